#pragma once

#include "TranscriptionApplication/AudioSource.h"
#include "TranscriptionInfrastructure/audio/CaptureStream.h"
#include "TranscriptionInfrastructure/audio/MonoMixdown.h"
#include "TranscriptionInfrastructure/audio/PulseAudioCapture.h"

#include <cstdint>

namespace tc {

// The default input device as a live source: every captured block becomes one mono frame (mean of the
// channels) at the device's own rate, timestamped by its position on the capture clock. Follows a change of
// the default input, or of its format, without ending the stream; ends the stream when the server goes
// away. Its capture serialises its own state; frames are made on the capture's delivery thread.
class MicrophoneAudioSource : public AudioSource {
public:
    // bufferSize is the requested block length in frames (1024 from the composition root).
    explicit MicrophoneAudioSource(std::uint32_t bufferSize = 1024);
    ~MicrophoneAudioSource() override;

    // Starts recording; throws MicrophoneError when it cannot. A running capture is stopped first.
    AudioFrameStream start() override;
    // Stops recording and finishes the stream; harmless when not running.
    void stop() override;
    bool isContinuous() const override { return true; }

    // One block as a frame: monoSamples of the channels; timestamp = samplePosition / rate, 0 without a rate.
    static AudioFrame frame(const PcmBufferView& buffer, double sampleRate, std::int64_t samplePosition);

private:
    const std::uint32_t m_bufferSize;
    CaptureStream m_capture;
};

} // namespace tc
