#pragma once

#include "TranscriptionCorvane/HeadlessQuestion.h"
#include "TranscriptionCorvane/HeadlessTranscription.h"

#include <QStringList>

#include <string>
#include <variant>

namespace tc {

// The program's command line, read with QCommandLineParser before any window system is touched, so --help and
// the windowless commands work without a display. Any thread; no state.
class CommandLine {
public:
    // No command: the window opens (Qt's own options such as -platform are left to it).
    struct OpenWindow {};
    struct ShowHelp {};
    struct ShowVersion {};
    struct PrintPaths {};
    // Why the arguments were refused: one Japanese line, and the usage to print after it.
    struct UsageError {
        std::string message;
        std::string usage;
    };

    using Command = std::variant<OpenWindow, ShowHelp, ShowVersion, PrintPaths, HeadlessTranscription::Options,
                                 HeadlessQuestion::Options, UsageError>;

    // The arguments after the program's name, decoded as the terminal's encoding.
    static QStringList fromMain(int argc, char** argv);
    // What the arguments (after the program's name) ask for; an unknown option, a missing value or an option
    // without the command it belongs to is a UsageError.
    static Command parse(const QStringList& arguments);

    // The --help text: what the program does, its commands and every option, in Japanese.
    static std::string helpText();
    // "transcription-corvane <version>" with the build's version.
    static std::string versionText();

    // The exit status for refused arguments (success is 0, a failed command 1).
    static constexpr int kExitUsage = 2;
};

} // namespace tc
