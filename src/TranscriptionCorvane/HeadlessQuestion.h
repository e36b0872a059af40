#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

namespace tc {

class ConversationResponder;
struct FinalizedLine;

// The command without a window:
// `transcription-corvane --ask QUESTION --transcript FILE [--json] [--language-model PATH]` answers one question
// about a transcript file as the window would (its last 80 lines), and prints the answer and the numbers of
// the cited lines in the file.
class HeadlessQuestion {
public:
    struct Options {
        std::string question;
        std::filesystem::path transcript;
        bool json = false;
        // Empty: the model the window would use.
        std::filesystem::path languageModel;

        friend bool operator==(const Options&, const Options&) = default;
    };
    // Why the arguments were refused, in Japanese, with the usage.
    struct UsageError {
        std::string message;
    };
    // No --ask: something else is wanted.
    struct NotRequested {};

    using Parsed = std::variant<NotRequested, Options, UsageError>;

    // One transcript line as read from the file: its text and its 1-based line number in the file.
    struct Line {
        std::string text;
        std::int64_t fileLine = 0;
        friend bool operator==(const Line&, const Line&) = default;
    };

    // Reads --ask, --transcript, --json and --language-model (also as --flag=value); a question of only white
    // space is refused.
    static Parsed parseArguments(const std::vector<std::string>& arguments);
    // One line per text line; a Markdown export of this app gives its time-stamped lines without the stamps.
    static std::vector<Line> transcriptLines(const std::string& fileText);
    // Answers when the arguments ask for it; the process's exit status, or nothing when not asked.
    static std::optional<int> runIfRequested(int argc, char** argv);
    // Answers with the responder, printing to out (and errors to err): 0 when answered, 1 when the file cannot
    // be read or answering failed.
    static int run(const Options& options, ConversationResponder& responder, std::ostream& out, std::ostream& err);

    static constexpr int kExitFailure = 1;
    static constexpr int kExitUsage = 2;
};

} // namespace tc
