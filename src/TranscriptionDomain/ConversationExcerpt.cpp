#include "TranscriptionDomain/ConversationExcerpt.h"

namespace tc {

ConversationExcerpt::ConversationExcerpt(std::vector<FinalizedLine> lines) : m_lines(std::move(lines)) {}

std::optional<Uuid> ConversationExcerpt::idForNumber(std::int64_t number) const
{
    if (number < 1 || number > static_cast<std::int64_t>(m_lines.size())) return std::nullopt;
    return m_lines[static_cast<std::size_t>(number - 1)].id;
}

} // namespace tc
