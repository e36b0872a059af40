#include "TranscriptionDomain/ConversationCitationReconciler.h"

#include <unordered_set>

namespace tc::ConversationCitationReconciler {

std::vector<Uuid> resolveIDs(const std::vector<std::int64_t>& numbers, const ConversationExcerpt& excerpt)
{
    std::vector<Uuid> result;
    std::unordered_set<Uuid> taken;
    for (const auto number : numbers) {
        const auto id = excerpt.idForNumber(number);
        if (id && taken.insert(*id).second) result.push_back(*id);
    }
    return result;
}

std::vector<Uuid> keepingExisting(const std::vector<Uuid>& ids, const std::vector<FinalizedLine>& lines)
{
    std::unordered_set<Uuid> existing;
    for (const auto& line : lines)
        existing.insert(line.id);
    std::vector<Uuid> result;
    std::unordered_set<Uuid> kept;
    for (const auto& id : ids) {
        if (existing.contains(id) && kept.insert(id).second) result.push_back(id);
    }
    return result;
}

} // namespace tc::ConversationCitationReconciler
