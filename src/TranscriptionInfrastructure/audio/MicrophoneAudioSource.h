#pragma once

#include "TranscriptionApplication/AudioSource.h"
#include "TranscriptionInfrastructure/audio/CaptureStream.h"
#include "TranscriptionInfrastructure/audio/MonoMixdown.h"
#include "TranscriptionInfrastructure/audio/PulseAudioCapture.h"

#include <cstdint>
#include <functional>
#include <string>

namespace tc {

// The chosen input device, or the default one, as a live source: every captured block becomes one mono frame
// (mean of the channels) at the device's own rate, timestamped by its position on the capture clock. Follows a
// change of the default input, or of its format, without ending the stream; while a chosen input is missing the
// default stands in, with a notice. Ends the stream when the server goes away. Its capture serialises its own
// state; frames and notices are made on the capture's delivery thread.
class MicrophoneAudioSource : public AudioSource {
public:
    // Called on the capture's delivery thread with a Japanese notice for the user.
    using Notice = std::function<void(const std::string& notice)>;

    // bufferSize is the requested block length in frames (1024 from the composition root); device is a
    // PulseAudio source name, empty for the default input; onNotice hears that the default stands in for it.
    explicit MicrophoneAudioSource(std::uint32_t bufferSize = 1024, std::string device = {}, Notice onNotice = {});
    ~MicrophoneAudioSource() override;

    // Starts recording; throws MicrophoneError when it cannot. A running capture is stopped first.
    AudioFrameStream start() override;
    // Stops recording and finishes the stream; harmless when not running.
    void stop() override;
    bool isContinuous() const override { return true; }

    // One block as a frame: monoSamples of the channels; timestamp = samplePosition / rate, 0 without a rate.
    static AudioFrame frame(const PcmBufferView& buffer, double sampleRate, std::int64_t samplePosition);
    // The notice that the default input stands in for the chosen one, named as the user knows it.
    static std::string fallbackNotice(const std::string& chosen);

private:
    const std::uint32_t m_bufferSize;
    const std::string m_device;
    const Notice m_onNotice;
    CaptureStream m_capture;
};

} // namespace tc
