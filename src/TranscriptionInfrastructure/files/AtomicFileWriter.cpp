#include "TranscriptionInfrastructure/files/AtomicFileWriter.h"

#include "TranscriptionInfrastructure/files/FileDescriptor.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace tc {

namespace {

std::string randomSuffix()
{
    thread_local std::mt19937_64 engine{std::random_device{}()};
    static constexpr char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix(8, 'x');
    for (auto& c : suffix)
        c = alphabet[engine() % (sizeof(alphabet) - 1)];
    return suffix;
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

} // namespace

Expected<void, AtomicFileWriter::Failure> AtomicFileWriter::write(const std::filesystem::path& file,
                                                                  std::string_view bytes, mode_t permissions)
{
    const auto failed = [](int error) { return Unexpected{Failure{error}}; };
    const auto folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    std::filesystem::path temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = folder / ("." + file.filename().string() + ".tmp-" + randomSuffix());
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, permissions);
        if (fd < 0 && errno != EEXIST) return failed(errno);
    }
    if (fd < 0) return failed(EEXIST);
    FileDescriptor descriptor(fd);

    const auto fail = [&](int error) {
        ::unlink(temporary.c_str());
        return failed(error);
    };
    // Keep the mode of the file being replaced (a user-chosen export may be meant for others to read).
    struct stat existing {};
    if (::stat(file.c_str(), &existing) == 0) ::fchmod(fd, existing.st_mode & 07777);

    if (!writeAll(fd, bytes)) return fail(errno);
    if (::fsync(fd) != 0) return fail(errno);
    if (descriptor.close() != 0) return fail(errno);
    if (::rename(temporary.c_str(), file.c_str()) != 0) return fail(errno);

    // The rename itself is only durable once the folder is flushed; file systems that cannot do that say EINVAL.
    FileDescriptor folderDescriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderDescriptor.get() >= 0 && ::fsync(folderDescriptor.get()) != 0 && errno != EINVAL) return failed(errno);
    return {};
}

std::string AtomicFileWriter::describe(const Failure& failure)
{
    switch (failure.errorNumber) {
    case ENOSPC: return "ディスクの空き容量が足りません";
    case EDQUOT: return "ディスクの使用量の上限に達しています";
    case EFBIG: return "ファイルが大きすぎます";
    case EACCES:
    case EPERM: return "書き込みの権限がありません";
    case EROFS: return "読み取り専用の場所です";
    case ENOENT:
    case ENOTDIR: return "保存先のフォルダがありません";
    case EISDIR: return "同じ名前のフォルダがあります";
    case EIO: return "ディスクの読み書きに失敗しました";
    case EMFILE:
    case ENFILE: return "開いているファイルが多すぎます。ほかのアプリを閉じてください";
    case ENAMETOOLONG: return "ファイル名が長すぎます";
    default:
        // The system's wording is English: the log keeps it, the message gives the number to look it up by.
        std::fprintf(stderr, "transcription-corvane: 書き込みに失敗: %s\n", std::strerror(failure.errorNumber));
        return "ファイルを書き込めませんでした（エラー番号 " + std::to_string(failure.errorNumber) + "）";
    }
}

} // namespace tc
