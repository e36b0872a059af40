#pragma once

#include "support/BuiltProgram.h"
#include "support/PulseAudioServer.h"
#include "support/TemporaryDirectory.h"
#include "support/XvfbServer.h"

#include <QImage>
#include <QJsonObject>
#include <QRect>

#include <functional>
#include <memory>
#include <optional>

namespace tc::test {

// The built program as a new user starts it on a desktop: a private sound server and X server (Xvfb, which takes
// a free display number itself), a temporary home with the real models, consent to speech recognition and the
// computer's sound, and the caption panel on. The window writes what it shows to a state file
// (TC_WINDOW_STATE_FILE), which the test reads. Not thread-safe.
class AppUnderXvfb {
public:
    struct User {
        QSize screen{1280, 800};
        // A meeting in a local calendar from half an hour ago to half an hour on, and consent to read it.
        bool meetingNow = false;
        // The caption panel's "caption/placement"; empty keeps the default.
        QString captionPlacement;
    };

    // Starts the servers and makes the home; startError() says what did not come up. Needs the default model.
    explicit AppUnderXvfb(const User& user);
    ~AppUnderXvfb();
    AppUnderXvfb(const AppUnderXvfb&) = delete;
    AppUnderXvfb& operator=(const AppUnderXvfb&) = delete;

    // Empty when the sound server and the X server run.
    std::string startError() const;
    // Starts the program afresh (the last one is ended first) and waits until it transcribes with its caption panel
    // shown; false after 60 s, with the program's errors in program().finish(0).
    bool launch();
    BuiltProgram& program() { return *m_program; }

    // The window's state as last written; empty before it was.
    QJsonObject state() const { return readJson(m_stateFile); }
    // Waits until the state meets the condition; false after timeoutMs.
    bool waitForState(const std::function<bool(const QJsonObject&)>& condition, int timeoutMs) const;
    // Runs a desktop tool on this display and sound server to its end: its standard output, or nothing when it
    // failed or ran past timeoutMs.
    std::optional<QString> run(const QString& tool, const QStringList& arguments, int timeoutMs = 30000) const;
    // Plays an audio file into the computer's output to its end.
    bool play(const std::filesystem::path& file, int timeoutMs) const;
    // The screen's pixels (within area when given), as the user sees them, also kept in file; null on failure.
    QImage screenshot(const std::filesystem::path& file, const QRect& area = {}) const;

    // Whether the X server still runs, and what it said: for a failure's message.
    std::string xServerReport();
    const QProcessEnvironment& environment() const { return m_environment; }
    QSize screenSize() const { return m_screen; }
    const std::filesystem::path& home() const { return m_home.path(); }
    std::filesystem::path historyFile() const { return home() / ".local/share/transcription-corvane/history.json"; }

    // A frame {"x", "y", "width", "height"} of the state as a rectangle.
    static QRect rectOf(const QJsonObject& frame);
    // The file's JSON object; empty when it is missing or no object.
    static QJsonObject readJson(const std::filesystem::path& file);

private:
    TemporaryDirectory m_home;
    std::unique_ptr<PulseAudioServer> m_sound;
    std::unique_ptr<XvfbServer> m_x;
    QSize m_screen;
    QString m_display;
    std::filesystem::path m_stateFile;
    QProcessEnvironment m_environment;
    std::unique_ptr<BuiltProgram> m_program;
};

} // namespace tc::test
