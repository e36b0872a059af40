#pragma once

#include "TranscriptionApplication/AudioSource.h"
#include "TranscriptionInfrastructure/audio/CaptureStream.h"
#include "TranscriptionInfrastructure/audio/PulseAudioCapture.h"

#include <functional>
#include <string>

namespace tc {

// What the computer plays, recorded from the monitor of the chosen output, or of the default one: every captured
// block becomes one mono frame (mean of the channels, timestamp 0); an empty block yields nothing. While a chosen
// output is missing the default stands in, with a notice. PulseAudio cannot leave one client's sound out of a
// monitor, and this application plays none of its own. Its capture serialises its own state; frames and notices
// are made on the capture's delivery thread.
class SystemAudioSource : public AudioSource {
public:
    // Called on the capture's delivery thread with a Japanese notice for the user.
    using Notice = std::function<void(const std::string& notice)>;

    // device is a PulseAudio sink name, empty for the default output; onNotice hears that the default stands in.
    explicit SystemAudioSource(std::string device = {}, Notice onNotice = {});
    ~SystemAudioSource() override;

    // Starts recording; throws SystemAudioError when it cannot. A running capture is stopped first.
    AudioFrameStream start() override;
    // Stops recording and finishes the stream; harmless when not running.
    void stop() override;
    bool isContinuous() const override { return true; }

    // The notice that the default output stands in for the chosen one, named as the user knows it.
    static std::string fallbackNotice(const std::string& chosen);

private:
    const std::string m_device;
    const Notice m_onNotice;
    CaptureStream m_capture;
};

} // namespace tc
