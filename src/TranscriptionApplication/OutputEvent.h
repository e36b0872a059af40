#pragma once

#include "TranscriptionDomain/SpeakerLabel.h"

#include <optional>
#include <string>

namespace tc {

// What a running session reports to its sink; each case carries one text.
struct OutputEvent {
    enum class Kind { volatileTranscript, finalizedTranscript, notice, failure };

    Kind kind = Kind::notice;
    std::string text;
    // A finalized text's audio time in seconds from the session's start, when the recognizer gave one.
    std::optional<double> start;
    std::optional<double> end;
    // Who said a finalized text, when the source could tell.
    std::optional<SpeakerLabel> speaker;

    static OutputEvent volatileTranscript(std::string text) { return {Kind::volatileTranscript, std::move(text)}; }
    static OutputEvent finalizedTranscript(std::string text) { return {Kind::finalizedTranscript, std::move(text)}; }
    static OutputEvent finalizedTranscript(std::string text, double start, double end)
    {
        return {Kind::finalizedTranscript, std::move(text), start, end};
    }
    static OutputEvent notice(std::string text) { return {Kind::notice, std::move(text)}; }
    static OutputEvent failure(std::string text) { return {Kind::failure, std::move(text)}; }

    friend bool operator==(const OutputEvent&, const OutputEvent&) = default;
};

} // namespace tc
