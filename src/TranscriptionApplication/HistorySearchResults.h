#pragma once

#include "TranscriptionDomain/ReferenceDate.h"
#include "TranscriptionDomain/SearchTextFolding.h"
#include "TranscriptionDomain/Uuid.h"

#include <cstddef>
#include <string>
#include <vector>

namespace tc {

// One line that matched, with where the matches are in its original text.
struct HistorySearchHit {
    Uuid lineId;
    std::string text;
    Date time = 0;
    // Every non-overlapping match in text, in UTF-8 bytes, first to last; never empty.
    std::vector<TextRange> ranges;
};

// The matching lines of one session, in the session's order.
struct HistorySearchSessionHits {
    Uuid sessionId;
    Date startedAt = 0;
    std::vector<HistorySearchHit> lines;
};

struct HistorySearchResults {
    // Newest session first.
    std::vector<HistorySearchSessionHits> sessions;
    // Lines that match in the whole history, also those beyond the limit.
    std::size_t matchedLines = 0;
    // True when more lines match than the results hold.
    bool truncated = false;
};

} // namespace tc
