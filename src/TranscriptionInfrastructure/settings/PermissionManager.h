#pragma once

#include "TranscriptionInfrastructure/audio/PulseAudioCapture.h"
#include "TranscriptionInfrastructure/settings/ConsentStore.h"

#include <functional>
#include <memory>

namespace tc {

// Answers whether the user allowed microphone, on-device speech recognition and system-audio capture, from
// the app's own consent records plus real checks of the sound server. Keeps no state of its own beyond the
// consent records. Virtual so the presentation model can be tested with a scripted stand-in.
class PermissionManager {
public:
    enum class Status { granted, denied, undetermined, restricted };

    // Asks the sound server what it offers; blocks briefly, never throws.
    using SoundServerCheck = std::function<PulseAudioServerProbe()>;

    // The app's own consent records and the session's PulseAudio server.
    PermissionManager();
    // Given consent records and sound-server check; tests use a temporary settings file and a private server.
    PermissionManager(std::shared_ptr<ConsentStore> consent, SoundServerCheck check);
    virtual ~PermissionManager();

    // undetermined until the user consents; then granted when the sound server has a capture source,
    // restricted when there is no sound server at all.
    virtual Status microphoneStatus();
    // Records the user's consent; true when the microphone can then be used.
    virtual bool requestMicrophone();
    // The user's consent to on-device recognition.
    virtual Status speechRecognitionStatus();
    // Records consent; true only when the status is then granted.
    virtual bool requestSpeechRecognition();
    // Consent given and a monitor of the default output to capture.
    virtual bool screenRecordingGranted();
    // Records consent; returns the immediate answer.
    virtual bool requestScreenRecording();
    // True when the sound server has a monitor source of the default output.
    virtual bool systemAudioAvailable();
    // Forgets the user's consent (microphone, speech recognition or screen recording): the status is undetermined
    // again until the next request. Never throws.
    virtual void withdraw(ConsentTopic topic);

private:
    std::shared_ptr<ConsentStore> m_consent;
    SoundServerCheck m_check;
};

} // namespace tc
