#pragma once

#include <filesystem>
#include <optional>

namespace tc {

// What the user answered when the app asked to use something; the desktop has no OS prompt for these.
enum class Consent { undetermined, granted, denied };

// Which consent is meant.
enum class ConsentTopic { microphone, speechRecognition, screenRecording, calendar };

// The user's consent records, kept in the app's settings. Thread-safe: every call opens its own settings
// handle, and the settings backend serialises access to the file.
class ConsentStore {
public:
    // The app's own settings (organisation and application "transcription-corvane").
    ConsentStore();
    // Settings kept in the given ini file instead; tests use a temporary one.
    explicit ConsentStore(std::filesystem::path iniFile);

    // undetermined when nothing was recorded (or the record is unreadable).
    Consent consent(ConsentTopic topic) const;
    // Records the answer and writes it through at once.
    void record(ConsentTopic topic, Consent answer);

private:
    std::optional<std::filesystem::path> m_iniFile;
};

} // namespace tc
