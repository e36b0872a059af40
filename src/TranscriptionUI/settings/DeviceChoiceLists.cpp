#include "TranscriptionUI/settings/DeviceChoiceLists.h"

#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/presentation/SourceAccess.h"

#include <algorithm>

namespace tc {

DeviceChoiceLists::DeviceChoiceLists(PreferencesStore* preferences) : m_preferences(preferences)
{
    show({}, {});
}

std::vector<DeviceChoiceLists::Choice> DeviceChoiceLists::choicesFor(const std::vector<AudioDeviceInfo>& devices,
                                                                     const QString& stored)
{
    std::vector<Choice> choices{{QStringLiteral("既定のデバイス"), QString()}};
    bool storedPresent = stored.isEmpty();
    for (const auto& device : devices) {
        const QString name = QString::fromStdString(device.name);
        const QString label = device.description.empty() ? name : QString::fromStdString(device.description);
        choices.push_back({label, name});
        storedPresent = storedPresent || name == stored;
    }
    // Shown rather than dropped: the device may come back (a headset plugged in later).
    if (!storedPresent) choices.push_back({QStringLiteral("%1（見つかりません）").arg(stored), stored});
    return choices;
}

void DeviceChoiceLists::show(const std::vector<AudioDeviceInfo>& inputs, const std::vector<AudioDeviceInfo>& outputs)
{
    m_microphones = choicesFor(inputs, m_preferences->value(SourceAccess::microphoneDeviceKey).toString());
    m_outputs = choicesFor(outputs, m_preferences->value(SourceAccess::systemAudioDeviceKey).toString());
}

int DeviceChoiceLists::indexOf(const std::vector<Choice>& choices, const QString& stored)
{
    const auto found =
        std::find_if(choices.begin(), choices.end(), [&](const Choice& choice) { return choice.name == stored; });
    return found == choices.end() ? 0 : static_cast<int>(found - choices.begin());
}

int DeviceChoiceLists::microphoneIndex() const
{
    return indexOf(m_microphones, m_preferences->value(SourceAccess::microphoneDeviceKey).toString());
}

int DeviceChoiceLists::outputIndex() const
{
    return indexOf(m_outputs, m_preferences->value(SourceAccess::systemAudioDeviceKey).toString());
}

void DeviceChoiceLists::chooseMicrophone(int index)
{
    if (index < 0 || index >= static_cast<int>(m_microphones.size())) return;
    m_preferences->setValue(SourceAccess::microphoneDeviceKey, m_microphones[static_cast<std::size_t>(index)].name);
}

void DeviceChoiceLists::chooseOutput(int index)
{
    if (index < 0 || index >= static_cast<int>(m_outputs.size())) return;
    m_preferences->setValue(SourceAccess::systemAudioDeviceKey, m_outputs[static_cast<std::size_t>(index)].name);
}

} // namespace tc
