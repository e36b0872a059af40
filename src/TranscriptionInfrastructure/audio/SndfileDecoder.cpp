#include "TranscriptionInfrastructure/audio/SndfileDecoder.h"

#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace tc {

namespace {

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

// Owns an open file descriptor.
class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0) ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

private:
    int m_fd;
};

// A file in memory behind libsndfile's virtual I/O.
struct MemoryFile {
    std::span<const std::byte> bytes;
    sf_count_t position = 0;

    static MemoryFile& of(void* data) { return *static_cast<MemoryFile*>(data); }
    static sf_count_t length(void* data) { return static_cast<sf_count_t>(of(data).bytes.size()); }
    static sf_count_t seek(sf_count_t offset, int whence, void* data)
    {
        auto& file = of(data);
        const sf_count_t base = whence == SEEK_CUR ? file.position : whence == SEEK_END ? length(data) : 0;
        file.position = std::clamp<sf_count_t>(base + offset, 0, length(data));
        return file.position;
    }
    static sf_count_t read(void* out, sf_count_t count, void* data)
    {
        auto& file = of(data);
        const sf_count_t n = std::clamp<sf_count_t>(count, 0, length(data) - file.position);
        if (n > 0) std::memcpy(out, file.bytes.data() + file.position, static_cast<std::size_t>(n));
        file.position += n;
        return n;
    }
    static sf_count_t write(const void*, sf_count_t, void*) { return 0; }
    static sf_count_t tell(void* data) { return of(data).position; }
};

// Whether libsndfile noticed, while parsing the header, that the audio data is shorter than announced.
bool headerPromisesMore(SNDFILE* file)
{
    std::array<char, 8192> log{};
    sf_command(file, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()));
    return std::string_view(log.data()).find("should be") != std::string_view::npos;
}

Expected<DecodedAudio, SndfileDecoder::Failure> decodeOpened(SNDFILE* file, const SF_INFO& info,
                                                             std::size_t framesPerRead)
{
    if (info.channels <= 0 || info.samplerate <= 0) return Unexpected{SndfileDecoder::Failure::cannotOpen};
    const auto channels = static_cast<std::size_t>(info.channels);
    DecodedAudio decoded;
    decoded.sampleRate = static_cast<double>(info.samplerate);
    decoded.channels.resize(channels);
    // The announced length is only a hint: compressed formats may be off, and a damaged header may announce
    // anything, so it bounds no allocation beyond a modest head start.
    const auto reserve = static_cast<std::size_t>(std::clamp<sf_count_t>(info.frames, 0, sf_count_t{1} << 24));
    for (auto& channel : decoded.channels)
        channel.reserve(reserve);

    std::vector<float> block(framesPerRead * channels);
    for (;;) {
        const sf_count_t got = sf_readf_float(file, block.data(), static_cast<sf_count_t>(framesPerRead));
        if (got <= 0) break;
        const auto frames = static_cast<std::size_t>(got);
        for (std::size_t c = 0; c < channels; ++c) {
            auto& channel = decoded.channels[c];
            const std::size_t start = channel.size();
            channel.resize(start + frames);
            for (std::size_t i = 0; i < frames; ++i)
                channel[start + i] = block[i * channels + c];
        }
    }
    const bool failed = sf_error(file) != SF_ERR_NO_ERROR;
    if (decoded.frameCount() == 0) return Unexpected{SndfileDecoder::Failure::decodeFailed};
    // FLAC announces its exact length in its header; a file cut at a frame boundary ends cleanly but short.
    const bool exactLength = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC;
    const bool short_ = exactLength && info.frames > 0 && static_cast<sf_count_t>(decoded.frameCount()) < info.frames;
    decoded.truncated = failed || short_ || headerPromisesMore(file);
    return decoded;
}

} // namespace

SndfileDecoder::SndfileDecoder(std::size_t framesPerRead) : m_framesPerRead(framesPerRead ? framesPerRead : 1) {}

Expected<DecodedAudio, SndfileDecoder::Failure> SndfileDecoder::decode(const std::filesystem::path& file) const
{
    // Opened without blocking and checked before reading: a named pipe without a writer would wait forever.
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        struct stat info {};
        if (::stat(file.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) return Unexpected{Failure::notAFile};
        return Unexpected{Failure::cannotOpen};
    }
    // Declared before the handle, so it is closed after libsndfile is done with it.
    const Descriptor descriptor(fd);
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return Unexpected{Failure::notAFile};
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    SF_INFO info{};
    SndfilePtr handle(sf_open_fd(fd, SFM_READ, &info, SF_FALSE));
    if (!handle) return Unexpected{Failure::cannotOpen};
    return decodeOpened(handle.get(), info, m_framesPerRead);
}

Expected<DecodedAudio, SndfileDecoder::Failure> SndfileDecoder::decode(std::span<const std::byte> bytes) const
{
    MemoryFile memory{bytes, 0};
    SF_VIRTUAL_IO io{&MemoryFile::length, &MemoryFile::seek, &MemoryFile::read, &MemoryFile::write, &MemoryFile::tell};
    SF_INFO info{};
    SndfilePtr handle(sf_open_virtual(&io, SFM_READ, &info, &memory));
    if (!handle) return Unexpected{Failure::cannotOpen};
    return decodeOpened(handle.get(), info, m_framesPerRead);
}

} // namespace tc
