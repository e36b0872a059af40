#pragma once

#include "TranscriptionInfrastructure/settings/PermissionManager.h"

#include <atomic>
#include <mutex>

namespace tc::test {

// A permission manager whose answers the test sets; requests grant (or refuse) as scripted, so a test can
// withdraw a permission between two calls. Thread-safe (one mutex inside).
class FakePermissionManager : public PermissionManager {
public:
    FakePermissionManager();

    void setMicrophone(Status status);
    void setSpeech(Status status);
    void setScreenRecording(bool granted);
    // What the next requests turn the status into (default: granted / true).
    void setRequestOutcome(Status microphone, Status speech, bool screenRecording);
    void grantAll();

    Status microphoneStatus() override;
    bool requestMicrophone() override;
    Status speechRecognitionStatus() override;
    bool requestSpeechRecognition() override;
    bool screenRecordingGranted() override;
    bool requestScreenRecording() override;
    bool systemAudioAvailable() override;

    int speechRequests() const;

private:
    mutable std::mutex m_mutex;
    Status m_microphone = Status::undetermined;
    Status m_speech = Status::undetermined;
    bool m_screenRecording = false;
    Status m_microphoneOutcome = Status::granted;
    Status m_speechOutcome = Status::granted;
    bool m_screenRecordingOutcome = true;
    int m_speechRequests = 0;
};

} // namespace tc::test
