#include "TranscriptionInfrastructure/settings/ConsentStore.h"

#include "TranscriptionInfrastructure/settings/SettingKeys.h"

#include <QSettings>
#include <QString>

#include <memory>

namespace tc {

namespace {

QString keyFor(ConsentTopic topic)
{
    switch (topic) {
    case ConsentTopic::microphone: return QString(settingKeys::consentMicrophone);
    case ConsentTopic::speechRecognition: return QString(settingKeys::consentSpeechRecognition);
    case ConsentTopic::screenRecording: return QString(settingKeys::consentScreenRecording);
    case ConsentTopic::calendar: return QString(settingKeys::consentCalendar);
    }
    return QString(settingKeys::consentUnknown);
}

std::unique_ptr<QSettings> openSettings(const std::optional<std::filesystem::path>& iniFile)
{
    if (iniFile) return std::make_unique<QSettings>(QString::fromStdString(iniFile->string()), QSettings::IniFormat);
    return std::make_unique<QSettings>(QString(settingKeys::storeName), QString(settingKeys::storeName));
}

} // namespace

ConsentStore::ConsentStore() = default;

ConsentStore::ConsentStore(std::filesystem::path iniFile) : m_iniFile(std::move(iniFile)) {}

Consent ConsentStore::consent(ConsentTopic topic) const
{
    const auto value = openSettings(m_iniFile)->value(keyFor(topic)).toString();
    if (value == QStringLiteral("granted")) return Consent::granted;
    if (value == QStringLiteral("denied")) return Consent::denied;
    return Consent::undetermined;
}

void ConsentStore::record(ConsentTopic topic, Consent answer)
{
    auto settings = openSettings(m_iniFile);
    switch (answer) {
    case Consent::granted: settings->setValue(keyFor(topic), QStringLiteral("granted")); break;
    case Consent::denied: settings->setValue(keyFor(topic), QStringLiteral("denied")); break;
    case Consent::undetermined: settings->remove(keyFor(topic)); break;
    }
    settings->sync();
}

} // namespace tc
