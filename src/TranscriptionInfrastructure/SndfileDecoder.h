#pragma once

#include <cstddef>
#include <filesystem>
#include <variant>
#include <vector>

namespace tc {

// A whole decoded file: deinterleaved float channels of equal length and their sample rate.
struct DecodedAudio {
    std::vector<std::vector<float>> channels;
    double sampleRate = 0;

    std::size_t frameCount() const { return channels.empty() ? 0 : channels.front().size(); }
};

// Decodes audio files with libsndfile (WAV, FLAC, Ogg Vorbis, Opus, MP3 and whatever else it reads) to float.
// Stateless; any thread may call.
class SndfileDecoder {
public:
    enum class Failure {
        // Not readable as audio (missing, no permission, unknown format).
        cannotOpen,
        // Opened, but held no frames or reading its samples failed.
        decodeFailed,
    };

    // framesPerRead bounds one read, so that files of any length decode in several reads.
    explicit SndfileDecoder(std::size_t framesPerRead = std::size_t{1} << 18);

    // The whole file, or why not.
    std::variant<DecodedAudio, Failure> decode(const std::filesystem::path& file) const;

private:
    std::size_t m_framesPerRead;
};

} // namespace tc
