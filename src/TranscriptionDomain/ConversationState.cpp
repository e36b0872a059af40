#include "TranscriptionDomain/ConversationState.h"

namespace tc {

ConversationState::ConversationState(std::vector<Utterance> finalizedUtterances, std::string volatileUtteranceText,
                                     std::int64_t maxRetained)
    : finalized(std::move(finalizedUtterances)), volatileText(std::move(volatileUtteranceText)),
      maxRetainedUtterances(maxRetained)
{
    pruneIfNeeded();
}

void ConversationState::appendFinalized(Utterance utterance)
{
    finalized.push_back(std::move(utterance));
    pruneIfNeeded();
}

void ConversationState::pruneIfNeeded()
{
    if (maxRetainedUtterances < 1) return;
    const auto limit = static_cast<std::size_t>(maxRetainedUtterances);
    if (finalized.size() > limit) {
        finalized.erase(finalized.begin(), finalized.end() - static_cast<std::ptrdiff_t>(limit));
    }
}

std::string ConversationState::finalizedText() const
{
    std::string text;
    for (std::size_t i = 0; i < finalized.size(); ++i) {
        if (i > 0) text.push_back(' ');
        text += finalized[i].text;
    }
    return text;
}

} // namespace tc
