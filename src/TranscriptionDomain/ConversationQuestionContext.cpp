#include "TranscriptionDomain/ConversationQuestionContext.h"

#include "TranscriptionDomain/BlankText.h"

namespace tc::ConversationQuestionContext {

ConversationExcerpt excerpt(const std::vector<FinalizedLine>& lines, std::int64_t maxLines)
{
    if (maxLines < 1) return ConversationExcerpt{};
    std::vector<FinalizedLine> kept;
    for (const auto& line : lines) {
        if (!isBlankText(line.text)) kept.push_back(line);
    }
    const auto keep = static_cast<std::size_t>(maxLines);
    if (kept.size() > keep) kept.erase(kept.begin(), kept.end() - static_cast<std::ptrdiff_t>(keep));
    return ConversationExcerpt{std::move(kept)};
}

} // namespace tc::ConversationQuestionContext
