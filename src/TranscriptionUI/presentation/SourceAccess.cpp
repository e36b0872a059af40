#include "TranscriptionUI/presentation/SourceAccess.h"

#include "TranscriptionInfrastructure/settings/SettingKeys.h"
#include "TranscriptionUI/presentation/NoticeLog.h"
#include "TranscriptionUI/presentation/ObservedValue.h"

#include <QSettings>

namespace tc {

namespace {

constexpr auto kOptInMicKey = settingKeys::optInMicrophone;
constexpr auto kOptInSystemAudioKey = settingKeys::optInSystemAudio;
constexpr auto kSystemAudioRequestedKey = settingKeys::systemAudioRequested;

const std::string kSystemAudioRestartNotice =
    "システム音声を有効にするには、出力装置（スピーカーやヘッドホン）があり、サウンドサーバー（PulseAudio または "
    "PipeWire）が動いていることを確認してから、もう一度お試しください。";
const std::string kSpeechPermissionNotice = "文字起こしに必要な音声認識が許可されていません。マイクまたはシステム音声の"
                                            "「許可」ボタンから、このコンピューター上での音声認識を許可してください。";

const std::string kMicrophoneWithdrawnNotice =
    "マイクの許可を取り消しました。マイクの文字起こしを止めました。また使うときは「マイクを許可」を押してください。";
const std::string kSystemAudioWithdrawnNotice = "システム音声の許可を取り消しました。システム音声の文字起こしを止めまし"
                                                "た。また使うときは「システム音声を許可」を押してください。";
const std::string kSpeechWithdrawnNotice = "音声認識の許可を取り消しました。文字起こしを止めました。再開するには設定の"
                                           "「許可」で音声認識を許可してください。";

struct PermissionReading {
    PermissionManager::Status microphone;
    PermissionManager::Status speech;
    bool screenRecording;
};

} // namespace

SourceAccess::SourceAccess(std::shared_ptr<PermissionManager> permissions, QSettings* settings,
                           std::shared_ptr<MainThreadHop> hop, NoticeLog& notices)
    : m_permissions(std::move(permissions)), m_settings(settings), m_hop(std::move(hop)), m_notices(notices),
      m_worker(std::make_unique<SerialWorker>())
{
    m_optInMic = m_settings->value(kOptInMicKey, false).toBool();
    m_optInSystemAudio = m_settings->value(kOptInSystemAudioKey, false).toBool();
    m_systemAudioRequested = m_settings->value(kSystemAudioRequestedKey, false).toBool();
}

SourceAccess::~SourceAccess()
{
    close();
}

void SourceAccess::close()
{
    m_worker.reset();
}

void SourceAccess::setOptInMic(bool value)
{
    storeOptInMic(value);
    Q_EMIT sourcesChanged();
}

void SourceAccess::setOptInSystemAudio(bool value)
{
    storeOptInSystemAudio(value);
    Q_EMIT sourcesChanged();
}

void SourceAccess::storeOptInMic(bool value)
{
    assignObserved(this, m_optInMic, value, &SourceAccess::optInMicChanged);
    m_settings->setValue(kOptInMicKey, value);
}

void SourceAccess::storeOptInSystemAudio(bool value)
{
    assignObserved(this, m_optInSystemAudio, value, &SourceAccess::optInSystemAudioChanged);
    m_settings->setValue(kOptInSystemAudioKey, value);
}

void SourceAccess::setSystemAudioRequested(bool value)
{
    assignObserved(this, m_systemAudioRequested, value, &SourceAccess::systemAudioRequestedChanged);
    m_settings->setValue(kSystemAudioRequestedKey, value);
}

AudioDeviceChoice SourceAccess::chosenDevices() const
{
    return {m_settings->value(microphoneDeviceKey).toString().toStdString(),
            m_settings->value(systemAudioDeviceKey).toString().toStdString()};
}

bool SourceAccess::canStart() const
{
    if (m_speechStatus != Status::granted) return false;
    return (m_optInMic && m_micStatus == Status::granted) || (m_optInSystemAudio && m_systemAudioGranted);
}

SourceAccessState SourceAccess::accessState(AudioSourceID source) const
{
    if (source == AudioSourceID::systemAudio) {
        if (m_systemAudioGranted) return SourceAccessState::granted(m_optInSystemAudio);
        return m_systemAudioRequested ? SourceAccessState::denied() : SourceAccessState::undetermined();
    }
    switch (m_micStatus) {
    case Status::granted: return SourceAccessState::granted(m_optInMic);
    case Status::denied: return SourceAccessState::denied();
    case Status::restricted: return SourceAccessState::restricted();
    case Status::undetermined: break;
    }
    return SourceAccessState::undetermined();
}

void SourceAccess::refresh(Done done)
{
    if (!m_worker) return;
    runOffMain<PermissionReading>(
        *m_worker, m_hop,
        [permissions = m_permissions](std::stop_token) {
            return PermissionReading{permissions->microphoneStatus(), permissions->speechRecognitionStatus(),
                                     permissions->screenRecordingGranted()};
        },
        [this, done = std::move(done)](PermissionReading reading) {
            assignObserved(this, m_micStatus, reading.microphone, &SourceAccess::micStatusChanged);
            assignObserved(this, m_speechStatus, reading.speech, &SourceAccess::speechStatusChanged);
            assignObserved(this, m_systemAudioGranted, reading.screenRecording,
                           &SourceAccess::systemAudioGrantedChanged);
            if (done) done();
        });
}

// Asks for speech recognition when it was never decided, then re-reads the permissions.
void SourceAccess::afterSpeechDecided(Done then)
{
    if (m_speechStatus == Status::undetermined && m_worker) {
        runOffMain<bool>(
            *m_worker, m_hop,
            [permissions = m_permissions](std::stop_token) { return permissions->requestSpeechRecognition(); },
            [this, then = std::move(then)](bool) mutable { refresh(std::move(then)); });
        return;
    }
    refresh(std::move(then));
}

void SourceAccess::requestMicrophone(Done done)
{
    if (!m_worker) return;
    runOffMain<bool>(
        *m_worker, m_hop, [permissions = m_permissions](std::stop_token) { return permissions->requestMicrophone(); },
        [this, done = std::move(done)](bool) mutable {
            afterSpeechDecided([this, done = std::move(done)] {
                if (m_micStatus == Status::granted) setOptInMic(true);
                postSpeechPermissionNotice();
                if (done) done();
            });
        });
}

void SourceAccess::requestSystemAudio(Done done)
{
    if (!m_worker) return;
    setSystemAudioRequested(true);
    runOffMain<bool>(
        *m_worker, m_hop,
        [permissions = m_permissions](std::stop_token) { return permissions->requestScreenRecording(); },
        [this, done = std::move(done)](bool) mutable {
            afterSpeechDecided([this, done = std::move(done)] {
                setOptInSystemAudio(true);
                if (!m_systemAudioGranted) m_notices.append(kSystemAudioRestartNotice);
                postSpeechPermissionNotice();
                if (done) done();
            });
        });
}

void SourceAccess::requestSpeechRecognition(Done done)
{
    if (!m_worker) return;
    runOffMain<bool>(
        *m_worker, m_hop,
        [permissions = m_permissions](std::stop_token) { return permissions->requestSpeechRecognition(); },
        [this, done = std::move(done)](bool) mutable {
            refresh([this, done = std::move(done)] {
                // The run may start now that recognition is allowed.
                Q_EMIT sourcesChanged();
                if (done) done();
            });
        });
}

void SourceAccess::withdraw(ConsentTopic topic, std::function<void()> after, Done done)
{
    if (!m_worker) return;
    runOffMain<bool>(
        *m_worker, m_hop,
        [permissions = m_permissions, topic](std::stop_token) {
            permissions->withdraw(topic);
            return true;
        },
        [this, after = std::move(after), done = std::move(done)](bool) mutable {
            refresh([this, after = std::move(after), done = std::move(done)] {
                after();
                if (done) done();
            });
        });
}

void SourceAccess::withdrawMicrophone(Done done)
{
    withdraw(
        ConsentTopic::microphone,
        [this] {
            // The opt-in goes too: allowing the microphone again turns it back on, as the first time.
            storeOptInMic(false);
            Q_EMIT consentWithdrawn(kMicrophoneWithdrawnNotice);
        },
        std::move(done));
}

void SourceAccess::withdrawSystemAudio(Done done)
{
    withdraw(
        ConsentTopic::screenRecording,
        [this] {
            setSystemAudioRequested(false);
            storeOptInSystemAudio(false);
            Q_EMIT consentWithdrawn(kSystemAudioWithdrawnNotice);
        },
        std::move(done));
}

void SourceAccess::withdrawSpeechRecognition(Done done)
{
    withdraw(
        ConsentTopic::speechRecognition,
        [this] {
            Q_EMIT consentWithdrawn(kSpeechWithdrawnNotice);
        },
        std::move(done));
}

void SourceAccess::postSpeechPermissionNotice()
{
    if (m_speechStatus != Status::denied && m_speechStatus != Status::restricted) return;
    if (!m_notices.contains(kSpeechPermissionNotice)) m_notices.append(kSpeechPermissionNotice);
}

} // namespace tc
