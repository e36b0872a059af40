#include "TranscriptionInfrastructure/files/FileReader.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tc {

namespace {

struct FdCloser {
    int fd;
    ~FdCloser()
    {
        if (fd >= 0) ::close(fd);
    }
};

} // namespace

std::optional<std::string> FileReader::readAll(const std::filesystem::path& file)
{
    // Non-blocking so that a named pipe in place of the file cannot stall the caller; regular files ignore it.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    FdCloser closer{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;

    std::string bytes;
    // The size is a hint only: the file may change while it is read.
    bytes.resize(static_cast<std::size_t>(info.st_size) + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size()) bytes.resize(bytes.size() * 2);
        const ssize_t got = ::read(fd, bytes.data() + used, bytes.size() - used);
        if (got < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (got == 0) break;
        used += static_cast<std::size_t>(got);
    }
    bytes.resize(used);
    return bytes;
}

} // namespace tc
