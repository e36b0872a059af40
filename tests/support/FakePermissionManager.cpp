#include "support/FakePermissionManager.h"

namespace tc::test {

FakePermissionManager::FakePermissionManager() : PermissionManager(nullptr, [] { return PulseAudioServerProbe{}; }) {}

void FakePermissionManager::setMicrophone(Status status)
{
    std::lock_guard lock(m_mutex);
    m_microphone = status;
}

void FakePermissionManager::setSpeech(Status status)
{
    std::lock_guard lock(m_mutex);
    m_speech = status;
}

void FakePermissionManager::setScreenRecording(bool granted)
{
    std::lock_guard lock(m_mutex);
    m_screenRecording = granted;
}

void FakePermissionManager::setRequestOutcome(Status microphone, Status speech, bool screenRecording)
{
    std::lock_guard lock(m_mutex);
    m_microphoneOutcome = microphone;
    m_speechOutcome = speech;
    m_screenRecordingOutcome = screenRecording;
}

void FakePermissionManager::grantAll()
{
    std::lock_guard lock(m_mutex);
    m_microphone = Status::granted;
    m_speech = Status::granted;
    m_screenRecording = true;
}

PermissionManager::Status FakePermissionManager::microphoneStatus()
{
    std::lock_guard lock(m_mutex);
    return m_microphone;
}

bool FakePermissionManager::requestMicrophone()
{
    std::lock_guard lock(m_mutex);
    m_microphone = m_microphoneOutcome;
    return m_microphone == Status::granted;
}

PermissionManager::Status FakePermissionManager::speechRecognitionStatus()
{
    std::lock_guard lock(m_mutex);
    return m_speech;
}

bool FakePermissionManager::requestSpeechRecognition()
{
    std::lock_guard lock(m_mutex);
    ++m_speechRequests;
    m_speech = m_speechOutcome;
    return m_speech == Status::granted;
}

bool FakePermissionManager::screenRecordingGranted()
{
    std::lock_guard lock(m_mutex);
    return m_screenRecording;
}

bool FakePermissionManager::requestScreenRecording()
{
    std::lock_guard lock(m_mutex);
    m_screenRecording = m_screenRecordingOutcome;
    return m_screenRecording;
}

bool FakePermissionManager::systemAudioAvailable()
{
    std::lock_guard lock(m_mutex);
    return m_screenRecording;
}

int FakePermissionManager::speechRequests() const
{
    std::lock_guard lock(m_mutex);
    return m_speechRequests;
}

} // namespace tc::test
