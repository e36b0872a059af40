#pragma once

#include "TranscriptionDomain/AudioSourceID.h"
#include "TranscriptionInfrastructure/audio/AudioDeviceChoice.h"
#include "TranscriptionInfrastructure/settings/PermissionManager.h"
#include "TranscriptionInfrastructure/settings/SettingKeys.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <string>

class QSettings;

namespace tc {

class MainThreadHop;
class NoticeLog;
class SerialWorker;

// What the window shows for one audio source.
struct SourceAccessState {
    enum class Kind { granted, undetermined, denied, restricted };

    Kind kind = Kind::undetermined;
    // Only meaningful for granted: the source's opt-in flag.
    bool enabled = false;

    static SourceAccessState granted(bool enabled) { return {Kind::granted, enabled}; }
    static SourceAccessState undetermined() { return {Kind::undetermined, false}; }
    static SourceAccessState denied() { return {Kind::denied, false}; }
    static SourceAccessState restricted() { return {Kind::restricted, false}; }

    friend bool operator==(const SourceAccessState&, const SourceAccessState&) = default;
};

// The two sources' opt-in flags (kept in the settings) and the cached permissions, read and requested on a
// worker. Main thread only; operations marked async call `done` on the main thread when finished.
class SourceAccess : public QObject {
    Q_OBJECT
public:
    using Status = PermissionManager::Status;
    using Done = std::function<void()>;

    // Reads the opt-in flags from settings (not owned); asks for nothing yet.
    SourceAccess(std::shared_ptr<PermissionManager> permissions, QSettings* settings,
                 std::shared_ptr<MainThreadHop> hop, NoticeLog& notices);
    ~SourceAccess() override;

    bool optInMic() const { return m_optInMic; }
    bool optInSystemAudio() const { return m_optInSystemAudio; }
    bool systemAudioRequested() const { return m_systemAudioRequested; }
    // Persist; the opt-ins also emit sourcesChanged, even for an unchanged value.
    void setOptInMic(bool value);
    void setOptInSystemAudio(bool value);
    void setSystemAudioRequested(bool value);
    Status micStatus() const { return m_micStatus; }
    Status speechStatus() const { return m_speechStatus; }
    bool systemAudioGranted() const { return m_systemAudioGranted; }

    // Where the settings keep the chosen devices' PulseAudio names; empty or absent: the default device.
    static inline const QString microphoneDeviceKey = QString(settingKeys::microphoneDevice);
    static inline const QString systemAudioDeviceKey = QString(settingKeys::systemAudioDevice);

    // The devices chosen in the settings, read now.
    AudioDeviceChoice chosenDevices() const;
    // Speech recognition granted and at least one opted-in source granted (cached states only).
    bool canStart() const;
    SourceAccessState accessState(AudioSourceID source) const;
    // Re-reads the three permissions. async.
    void refresh(Done done = {});
    // Asks for the microphone (and speech recognition if undetermined), then opts in when granted. async.
    void requestMicrophone(Done done = {});
    // Asks for system audio (and speech recognition if undetermined), then opts in whatever the outcome. async.
    void requestSystemAudio(Done done = {});
    // Asks for speech recognition alone (the microphone and system audio keep their state). async.
    void requestSpeechRecognition(Done done = {});
    // Withdraw the user's consent: the source's capture stops at once (the run goes on with what is left, or
    // stops) with a notice, and the window offers to allow it again. async.
    void withdrawMicrophone(Done done = {});
    void withdrawSystemAudio(Done done = {});
    // Transcription stops until speech recognition is allowed again. async.
    void withdrawSpeechRecognition(Done done = {});
    // Whether the user's consent to system audio is on record (granted may still be false: no output to capture).
    bool systemAudioConsented() const { return m_systemAudioRequested || m_systemAudioGranted; }
    // Stops answering: pending requests are dropped.
    void close();

signals:
    void optInMicChanged();
    void optInSystemAudioChanged();
    void systemAudioRequestedChanged();
    void micStatusChanged();
    void speechStatusChanged();
    void systemAudioGrantedChanged();
    // An opt-in flag was assigned; the run may have to follow.
    void sourcesChanged();
    // A consent was withdrawn (opt-ins already updated, without sourcesChanged): the run must follow, then the
    // notice be shown.
    void consentWithdrawn(const std::string& notice);

private:
    void afterSpeechDecided(Done then);
    void postSpeechPermissionNotice();
    // Withdraws on the worker, re-reads the permissions, then `after` runs on the main thread.
    void withdraw(ConsentTopic topic, std::function<void()> after, Done done);
    // Assign and persist without telling the run.
    void storeOptInMic(bool value);
    void storeOptInSystemAudio(bool value);

    std::shared_ptr<PermissionManager> m_permissions;
    QSettings* m_settings;
    std::shared_ptr<MainThreadHop> m_hop;
    NoticeLog& m_notices;
    std::unique_ptr<SerialWorker> m_worker;
    bool m_optInMic = false;
    bool m_optInSystemAudio = false;
    bool m_systemAudioRequested = false;
    Status m_micStatus = Status::undetermined;
    Status m_speechStatus = Status::undetermined;
    bool m_systemAudioGranted = false;
};

} // namespace tc
