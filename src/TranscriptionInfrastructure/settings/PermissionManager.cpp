#include "TranscriptionInfrastructure/settings/PermissionManager.h"

#include "TranscriptionInfrastructure/settings/ConsentStore.h"

#include <memory>

namespace tc {

namespace {

PermissionManager::Status statusFromConsent(Consent consent)
{
    switch (consent) {
    case Consent::granted: return PermissionManager::Status::granted;
    case Consent::denied: return PermissionManager::Status::denied;
    case Consent::undetermined: return PermissionManager::Status::undetermined;
    }
    return PermissionManager::Status::denied;
}

} // namespace

PermissionManager::PermissionManager()
    : PermissionManager(std::make_shared<ConsentStore>(), [] { return PulseAudioCapture::probeServer(); })
{}

PermissionManager::PermissionManager(std::shared_ptr<ConsentStore> consent, SoundServerCheck check)
    : m_consent(std::move(consent)), m_check(std::move(check))
{}

PermissionManager::~PermissionManager() = default;

PermissionManager::Status PermissionManager::microphoneStatus()
{
    const auto consent = m_consent->consent(ConsentTopic::microphone);
    if (consent != Consent::granted) return statusFromConsent(consent);
    const auto facts = m_check();
    if (!facts.reachable) return Status::restricted;
    // A server without any input device: nothing the app could capture until one is plugged in.
    return facts.hasCaptureSource ? Status::granted : Status::denied;
}

bool PermissionManager::requestMicrophone()
{
    m_consent->record(ConsentTopic::microphone, Consent::granted);
    return microphoneStatus() == Status::granted;
}

PermissionManager::Status PermissionManager::speechRecognitionStatus()
{
    return statusFromConsent(m_consent->consent(ConsentTopic::speechRecognition));
}

bool PermissionManager::requestSpeechRecognition()
{
    m_consent->record(ConsentTopic::speechRecognition, Consent::granted);
    return speechRecognitionStatus() == Status::granted;
}

bool PermissionManager::screenRecordingGranted()
{
    if (m_consent->consent(ConsentTopic::screenRecording) != Consent::granted) return false;
    return systemAudioAvailable();
}

bool PermissionManager::requestScreenRecording()
{
    m_consent->record(ConsentTopic::screenRecording, Consent::granted);
    return screenRecordingGranted();
}

bool PermissionManager::systemAudioAvailable()
{
    const auto facts = m_check();
    return facts.reachable && facts.defaultSinkHasMonitor;
}

void PermissionManager::withdraw(ConsentTopic topic)
{
    m_consent->record(topic, Consent::undetermined);
}

} // namespace tc
