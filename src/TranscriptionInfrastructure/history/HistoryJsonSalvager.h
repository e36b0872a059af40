#pragma once

#include "TranscriptionInfrastructure/history/HistoryJsonCodec.h"
#include "TranscriptionInfrastructure/history/HistoryJsonReader.h"

namespace tc {

// Reads what still decodes of a damaged history file, dropping only the broken records.
class HistoryJsonSalvager : public HistoryJsonReader {
public:
    using HistoryJsonReader::HistoryJsonReader;

    // Reads what it can of a current-layout file: a line or session with a wrongly typed or missing field is
    // dropped alone, and where the text stops being JSON at all, everything complete before that point is kept.
    // False when there is no "sessions" array to read from.
    bool salvageStore(std::vector<TranscriptSession>& sessions, HistoryJsonCodec::Salvage& report);

private:
    // The "sessions" array, keeping the usable sessions; false when the text breaks off.
    bool salvageSessions(std::vector<TranscriptSession>& sessions, HistoryJsonCodec::Salvage& report);
    // False when the text breaks off inside the session; `usable` tells whether what was read is worth keeping.
    bool salvageSession(TranscriptSession& session, bool& usable, HistoryJsonCodec::Salvage& report);
    // A "lines" array, dropping the broken lines; false when the text breaks off.
    bool salvageLines(std::vector<FinalizedLine>& lines, HistoryJsonCodec::Salvage& report);
    // One line object; `complete` tells whether its id, text and time were read. False when the text breaks off.
    bool salvageLine(FinalizedLine& line, bool& complete);
    // skipValue, except that a string with bytes that are not UTF-8 or bad escapes is skipped too: a damaged text
    // loses its own line, not the rest of the file.
    bool skipLenient(int depth);
};

} // namespace tc
