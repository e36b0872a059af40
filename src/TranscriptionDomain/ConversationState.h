#pragma once

#include "TranscriptionDomain/Utterance.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tc {

// A bounded running conversation: settled utterances (oldest first) and the volatile text.
struct ConversationState {
    std::vector<Utterance> finalized;
    std::string volatileText;
    // Below 1 means no limit.
    std::int64_t maxRetainedUtterances = 0;

    // Stores the fields and applies the retention rule at once.
    ConversationState(std::vector<Utterance> finalizedUtterances, std::string volatileUtteranceText,
                      std::int64_t maxRetained);

    // Appends and applies the retention rule; leaves volatileText as it is.
    void appendFinalized(Utterance utterance);
    // Drops the oldest utterances beyond the limit.
    void pruneIfNeeded();
    // The texts joined with one space, untrimmed.
    std::string finalizedText() const;

    friend bool operator==(const ConversationState&, const ConversationState&) = default;
};

} // namespace tc
