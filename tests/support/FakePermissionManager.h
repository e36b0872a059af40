#pragma once

#include "TranscriptionInfrastructure/settings/PermissionManager.h"
#include "support/Locked.h"

namespace tc::test {

// A permission manager whose answers the test sets; requests grant (or refuse) as scripted, so a test can
// withdraw a permission between two calls. Thread-safe.
class FakePermissionManager : public PermissionManager {
public:
    FakePermissionManager() : PermissionManager(nullptr, [] { return PulseAudioServerProbe{}; }) {}

    void setMicrophone(Status status) { m_lock.set(m_microphone, status); }
    void setSpeech(Status status) { m_lock.set(m_speech, status); }
    void setScreenRecording(bool granted) { m_lock.set(m_screenRecording, granted); }
    // What the next requests turn the status into (default: granted / true).
    void setRequestOutcome(Status microphone, Status speech, bool screenRecording)
    {
        m_lock.set(m_outcome, Outcome{microphone, speech, screenRecording});
    }
    void grantAll()
    {
        m_lock.change([&] {
            m_microphone = m_speech = Status::granted;
            m_screenRecording = true;
        });
    }

    Status microphoneStatus() override { return m_lock.read(m_microphone); }
    bool requestMicrophone() override
    {
        return m_lock.change([&] { return (m_microphone = m_outcome.microphone) == Status::granted; });
    }
    Status speechRecognitionStatus() override { return m_lock.read(m_speech); }
    bool requestSpeechRecognition() override
    {
        return m_lock.change([&] {
            ++m_speechRequests;
            return (m_speech = m_outcome.speech) == Status::granted;
        });
    }
    bool screenRecordingGranted() override { return m_lock.read(m_screenRecording); }
    bool requestScreenRecording() override
    {
        return m_lock.change([&] { return m_screenRecording = m_outcome.screenRecording; });
    }
    bool systemAudioAvailable() override { return m_lock.read(m_screenRecording); }
    void withdraw(ConsentTopic topic) override
    {
        m_lock.change([&] {
            switch (topic) {
            case ConsentTopic::microphone: m_microphone = Status::undetermined; break;
            case ConsentTopic::speechRecognition: m_speech = Status::undetermined; break;
            case ConsentTopic::screenRecording: m_screenRecording = false; break;
            case ConsentTopic::calendar: break;
            }
        });
    }

    int speechRequests() const { return m_lock.read(m_speechRequests); }

private:
    struct Outcome {
        Status microphone = Status::granted;
        Status speech = Status::granted;
        bool screenRecording = true;
    };

    Locked m_lock;
    Status m_microphone = Status::undetermined;
    Status m_speech = Status::undetermined;
    bool m_screenRecording = false;
    Outcome m_outcome;
    int m_speechRequests = 0;
};

} // namespace tc::test
