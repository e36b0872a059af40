#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace tc {

// How the samples of a delivered buffer are laid out.
struct AudioStreamDescription {
    static constexpr std::uint32_t formatFlagIsFloat = 1;

    double sampleRate = 0;
    std::uint32_t formatFlags = 0;
    std::uint32_t channelsPerFrame = 0;
};

// One buffer of a buffer list: interleaved when it holds several channels. The data is borrowed.
struct AudioBufferData {
    std::uint32_t numberChannels = 0;
    std::uint32_t dataByteSize = 0;
    const void* data = nullptr;
};

// A delivered block of system audio: one interleaved buffer, or one buffer per channel.
struct SystemAudioSampleBuffer {
    bool isValid = true;
    std::optional<AudioStreamDescription> description;
    // Non-zero when the buffer list could not be had.
    int bufferListStatus = 0;
    std::vector<AudioBufferData> buffers;
};

} // namespace tc
