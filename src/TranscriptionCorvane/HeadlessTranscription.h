#pragma once

#include "TranscriptionDomain/TranscriptExportFormat.h"

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

namespace tc {

// The command without a window: `transcription-corvane --transcribe FILE [--model NAME] [--format FORMAT]` runs
// one real session over the file (file source, speech transcriber, session runner) and prints the lines as they
// settle, or with --format srt|vtt|txt|md prints the whole transcript in that format once the file is done (cue
// times are the lines' positions in the file).
class HeadlessTranscription {
public:
    struct Options {
        std::filesystem::path file;
        // An installed speech model; the default one when empty.
        std::string model;
        // Print this export at the end instead of each line as it settles.
        std::optional<TranscriptExportFormat> format;

        friend bool operator==(const Options&, const Options&) = default;
    };
    // Why the arguments were refused, in Japanese, with the usage.
    struct UsageError {
        std::string message;
    };
    // Neither --transcribe nor --model: the window is wanted.
    struct NotRequested {};

    using Parsed = std::variant<NotRequested, Options, UsageError>;

    // Reads --transcribe FILE, --model NAME and --format FORMAT (each also as --flag=VALUE); other arguments are
    // left for the window.
    static Parsed parseArguments(const std::vector<std::string>& arguments);
    // Runs the transcription when the arguments ask for it; the process's exit status, or nothing for the window.
    static std::optional<int> runIfRequested(int argc, char** argv);
    // Transcribes the file, printing to out and err: 0 when done, 1 when the session failed.
    static int run(const Options& options, std::ostream& out, std::ostream& err, bool interactive);

    static constexpr int kExitFailure = 1;
    static constexpr int kExitUsage = 2;
};

} // namespace tc
