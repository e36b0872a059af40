#pragma once

#include "TranscriptionDomain/FinalizedLine.h"
#include "TranscriptionDomain/ReferenceDate.h"
#include "TranscriptionDomain/TranscriptExportFormat.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tc {

// Writes a session's lines as an export file's UTF-8 text, lines separated by a line feed. Time-of-day texts come
// from the caller, which knows the user's time zone. Pure, callable from any thread.
class TranscriptExporter {
public:
    // "HH:mm:ss" of a line's finalized time, in local time.
    using TimeOfDayText = std::function<std::string(Date)>;

    struct Input {
        std::vector<FinalizedLine> lines;
        // Cue times count from here.
        Date sessionStart = 0;
        // "yyyy-MM-dd HH:mm:ss" of the export, for the Markdown heading.
        std::string exportTimeText;
        TimeOfDayText timeOfDayText;
    };

    static std::string write(TranscriptExportFormat format, const Input& input);

    // "# 文字起こし", the export time, "## 本文" and one bullet per line: "- `HH:mm:ss` " and the text as it is.
    static std::string markdown(const Input& input);
    // Numbered cues with "HH:MM:SS,mmm --> HH:MM:SS,mmm" times.
    static std::string srt(const Input& input);
    // "WEBVTT" and cues with "HH:MM:SS.mmm --> HH:MM:SS.mmm" times; "&", "<" and ">" escaped.
    static std::string webVtt(const Input& input);
    // The text of each non-blank line on a line of its own.
    static std::string plainText(const Input& input);

    // A cue time: hours, minutes, seconds and milliseconds with the given separator before the milliseconds.
    static std::string cueTime(double seconds, char millisecondSeparator);
};

} // namespace tc
