#pragma once

#include "TranscriptionDomain/Expected.h"

#include <cstddef>
#include <filesystem>
#include <span>
#include <vector>

namespace tc {

// A whole decoded file: deinterleaved float channels of equal length and their sample rate.
struct DecodedAudio {
    std::vector<std::vector<float>> channels;
    double sampleRate = 0;
    // The file breaks off: its header promises more audio than it holds, or decoding lost its way before the end.
    // The channels hold everything up to that point.
    bool truncated = false;

    std::size_t frameCount() const { return channels.empty() ? 0 : channels.front().size(); }
    // Seconds of audio decoded.
    double seconds() const { return sampleRate > 0 ? static_cast<double>(frameCount()) / sampleRate : 0.0; }
};

// Decodes audio files with libsndfile (WAV, FLAC, Ogg Vorbis, Opus, MP3 and whatever else it reads) to float.
// Stateless; any thread may call.
class SndfileDecoder {
public:
    enum class Failure {
        // Not readable as audio (missing, no permission, unknown format).
        cannotOpen,
        // Opened, but held no frames or reading its samples failed before the first frame.
        decodeFailed,
        // Not a regular file (a directory, a named pipe, a device): refused without waiting on it.
        notAFile,
    };

    // framesPerRead bounds one read, so that files of any length decode in several reads.
    explicit SndfileDecoder(std::size_t framesPerRead = std::size_t{1} << 18);

    // The whole file, or why not. Only regular files are read.
    Expected<DecodedAudio, Failure> decode(const std::filesystem::path& file) const;
    // A whole file given as bytes in memory (what standard input delivered).
    Expected<DecodedAudio, Failure> decode(std::span<const std::byte> bytes) const;

private:
    std::size_t m_framesPerRead;
};

} // namespace tc
