#pragma once

#include "TranscriptionInfrastructure/audio/PulseAudioDeviceDirectory.h"

#include <QString>

#include <vector>

namespace tc {

class PreferencesStore;

// The settings' two device lists, microphones and outputs, as the sound server last offered them, and the stored
// choice in each. Main thread only.
class DeviceChoiceLists {
public:
    // One entry of a device list: what people read and the name stored (empty: the default device).
    struct Choice {
        QString label;
        QString name;
        friend bool operator==(const Choice&, const Choice&) = default;
    };

    // Lists only the default device and the stored ones until show() is called.
    explicit DeviceChoiceLists(PreferencesStore* preferences);

    // The devices the server offers now.
    void show(const std::vector<AudioDeviceInfo>& inputs, const std::vector<AudioDeviceInfo>& outputs);
    const std::vector<Choice>& microphones() const { return m_microphones; }
    const std::vector<Choice>& outputs() const { return m_outputs; }
    // The stored choice's index in its list.
    int microphoneIndex() const;
    int outputIndex() const;
    // Stores the entry at index; an index outside the list is ignored.
    void chooseMicrophone(int index);
    void chooseOutput(int index);

    // "既定のデバイス" first, then the devices by description; a stored name the server does not offer now is
    // kept as an entry marked "（見つかりません）".
    static std::vector<Choice> choicesFor(const std::vector<AudioDeviceInfo>& devices, const QString& stored);

private:
    static int indexOf(const std::vector<Choice>& choices, const QString& stored);

    PreferencesStore* m_preferences;
    std::vector<Choice> m_microphones;
    std::vector<Choice> m_outputs;
};

} // namespace tc
