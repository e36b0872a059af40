#pragma once

#include "TranscriptionApplication/AudioSource.h"
#include "TranscriptionInfrastructure/audio/SndfileDecoder.h"

#include <cstdint>
#include <filesystem>

namespace tc {

// Reads one audio file as a finite stream of mono frames of frameSize samples at the file's own rate, with
// timestamps counted from the start of the file. The path "-" reads standard input to its end instead; only
// regular files are read otherwise. Holds no mutable state; start() may be called again.
class FileAudioSource : public AudioSource {
public:
    // frameSize must be at least 1.
    FileAudioSource(std::filesystem::path file, std::int64_t frameSize, SndfileDecoder decoder = SndfileDecoder());

    // The path that means standard input.
    static constexpr const char* standardInput = "-";

    // Decodes the whole file and returns a stream already holding every frame and already finished, or failed
    // with FileError::Kind::truncated after the frames when the file breaks off; throws FileError before any
    // stream exists when nothing can be read.
    AudioFrameStream start() override;
    // Nothing to tear down.
    void stop() override;

    // The file read by start().
    const std::filesystem::path& file() const { return m_file; }
    // Samples per frame.
    std::int64_t frameSize() const { return m_frameSize; }

private:
    std::filesystem::path m_file;
    std::int64_t m_frameSize;
    SndfileDecoder m_decoder;
};

} // namespace tc
