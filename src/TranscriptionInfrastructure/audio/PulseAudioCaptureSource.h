#pragma once

#include "TranscriptionApplication/AudioSource.h"
#include "TranscriptionInfrastructure/audio/CaptureStream.h"
#include "TranscriptionInfrastructure/audio/PulseAudioCapture.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

namespace tc {

// A PulseAudio device as a live source, in one direction: every captured block becomes one mono frame (mean of the
// channels) at the device's own rate. While a chosen device is missing the default stands in, and the caller hears
// of it. Ends the stream when the server goes away. Its capture serialises its own state; frames and notices are
// made on the capture's delivery thread. The microphone and the system audio are its two directions.
class PulseAudioCaptureSource : public AudioSource {
public:
    enum class Direction {
        // The chosen or default input, following a change of the default; frames are timestamped by their position
        // on the capture clock.
        input,
        // The monitor of the chosen or default output; frames carry timestamp 0 and an empty block yields none.
        outputMonitor,
    };
    // Called on the capture's delivery thread with the name of the chosen device the default stands in for.
    using FellBack = std::function<void(const std::string& chosen)>;
    // The source's own error for a PulseAudio failure: what start() throws and a failed stream ends with.
    using MakeError = CaptureStream::MakeError;

    // bufferSize is the requested block length in frames; device is a PulseAudio source (input) or sink (output)
    // name, empty for the default.
    PulseAudioCaptureSource(Direction direction, std::uint32_t bufferSize, std::string device, FellBack fellBack,
                            MakeError makeError);
    ~PulseAudioCaptureSource() override;

    // Starts recording; throws makeError's error when it cannot. A running capture is stopped first.
    AudioFrameStream start() override;
    // Stops recording and finishes the stream; harmless when not running.
    void stop() override;
    bool isContinuous() const override { return true; }

private:
    const Direction m_direction;
    const std::uint32_t m_bufferSize;
    const std::string m_device;
    const FellBack m_fellBack;
    const MakeError m_makeError;
    CaptureStream m_capture;
};

} // namespace tc
