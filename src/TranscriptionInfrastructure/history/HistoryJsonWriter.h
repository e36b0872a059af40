#pragma once

#include "TranscriptionDomain/TranscriptSession.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tc {

// Writes the history file's JSON in one pass, byte for byte what nlohmann::ordered_json's compact dump gives.
class HistoryJsonWriter {
public:
    // {"version":2,"sessions":[...]} with each session cut to its last `maxLinesPerSession` lines; ill-formed
    // UTF-8 becomes U+FFFD and a date that is not finite is written as 0.
    static std::string encodeStore(const std::vector<TranscriptSession>& sessions, std::int64_t maxLinesPerSession);
};

} // namespace tc
