#pragma once

#include "TranscriptionApplication/AudioSource.h"
#include "TranscriptionInfrastructure/audio/CaptureStream.h"
#include "TranscriptionInfrastructure/audio/PulseAudioCapture.h"

namespace tc {

// What the computer plays, recorded from the monitor of the default output: every captured block becomes one
// mono frame (mean of the channels, timestamp 0); an empty block yields nothing. PulseAudio cannot leave one
// client's sound out of a monitor, and this application plays none of its own. Its capture serialises its own
// state; frames are made on the capture's delivery thread.
class SystemAudioSource : public AudioSource {
public:
    SystemAudioSource();
    ~SystemAudioSource() override;

    // Starts recording; throws SystemAudioError when it cannot. A running capture is stopped first.
    AudioFrameStream start() override;
    // Stops recording and finishes the stream; harmless when not running.
    void stop() override;
    bool isContinuous() const override { return true; }

private:
    CaptureStream m_capture;
};

} // namespace tc
