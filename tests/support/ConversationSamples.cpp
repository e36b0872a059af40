#include "support/ConversationSamples.h"

namespace tc::test {

ConversationExcerpt excerptOf(const std::vector<std::string>& texts)
{
    std::vector<FinalizedLine> lines;
    for (const auto& text : texts)
        lines.push_back(FinalizedLine{Uuid::random(), text, 0});
    return ConversationExcerpt(std::move(lines));
}

} // namespace tc::test
