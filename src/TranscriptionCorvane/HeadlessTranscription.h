#pragma once

#include "TranscriptionDomain/TranscriptExportFormat.h"

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

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
    // Transcribes the file, printing to out and err: 0 when done, 1 when the session failed.
    static int run(const Options& options, std::ostream& out, std::ostream& err, bool interactive);

    static constexpr int kExitFailure = 1;
};

} // namespace tc
