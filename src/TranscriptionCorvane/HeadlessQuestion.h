#pragma once

#include <filesystem>
#include <ostream>
#include <string>
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
    // One transcript line as read from the file: its text and its 1-based line number in the file.
    struct Line {
        std::string text;
        std::int64_t fileLine = 0;
        friend bool operator==(const Line&, const Line&) = default;
    };

    // One line per text line; a Markdown export of this app gives its time-stamped lines without the stamps.
    static std::vector<Line> transcriptLines(const std::string& fileText);
    // Answers with the responder the window would use (or options.languageModel's); the process's exit status.
    static int run(const Options& options);
    // Answers with the responder, printing to out (and errors to err): 0 when answered, 1 when the file cannot
    // be read or answering failed.
    static int run(const Options& options, ConversationResponder& responder, std::ostream& out, std::ostream& err);

    static constexpr int kExitFailure = 1;
};

} // namespace tc
