#pragma once

#include "TranscriptionDomain/FinalizedLine.h"
#include "TranscriptionDomain/TranscriptSession.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tc {

// The history file's JSON, written and read directly without a document tree: a general JSON library is several
// times too slow and too memory-hungry for a history of a hundred thousand lines. The output is byte for byte what
// nlohmann::ordered_json's compact dump gives for the same records. Stateless, callable from any thread.
class HistoryJsonCodec {
public:
    // {"version":2,"sessions":[...]} with each session cut to its last `maxLinesPerSession` lines. Text that is not
    // valid UTF-8 is written with U+FFFD in place of each ill-formed part; a date that is not finite is written as 0.
    static std::string encodeStore(const std::vector<TranscriptSession>& sessions, std::int64_t maxLinesPerSession);

    // The sessions of a current-layout file: an object with an integer "version" and "sessions"; nothing when the
    // bytes are not that (invalid JSON, missing or mistyped keys, malformed UUIDs).
    static std::optional<std::vector<TranscriptSession>> decodeStore(std::string_view bytes);

    // What could be read of a damaged current-layout file.
    struct Salvage {
        std::vector<TranscriptSession> sessions;
        // Records left out because a field was missing, mistyped or not text.
        std::size_t droppedSessions = 0;
        std::size_t droppedLines = 0;
        // True when the file stops being JSON somewhere; what came after that point is lost.
        bool cutShort = false;
    };
    // The sessions and lines of a damaged current-layout file that still decode, dropping only the broken records;
    // a session whose id or start is broken keeps its lines under a new id, starting at its first line. Nothing when
    // there is no "sessions" array to read.
    static std::optional<Salvage> salvageStore(std::string_view bytes);

    // The lines of an old-layout file: an object with "lines"; nothing when the bytes are not that.
    static std::optional<std::vector<FinalizedLine>> decodeLegacy(std::string_view bytes);
};

} // namespace tc
