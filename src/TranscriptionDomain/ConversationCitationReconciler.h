#pragma once

#include "TranscriptionDomain/ConversationExcerpt.h"
#include "TranscriptionDomain/FinalizedLine.h"
#include "TranscriptionDomain/Uuid.h"

#include <cstdint>
#include <vector>

namespace tc {

// Maps the model's 1-based line numbers back to line identifiers. Pure; any thread; linear time.
namespace ConversationCitationReconciler {

// Ids of the cited lines in order of first citation; out-of-range numbers and repeats are skipped.
std::vector<Uuid> resolveIDs(const std::vector<std::int64_t>& numbers, const ConversationExcerpt& excerpt);
// The given ids that name one of the lines, each once, in the given order.
std::vector<Uuid> keepingExisting(const std::vector<Uuid>& ids, const std::vector<FinalizedLine>& lines);

} // namespace ConversationCitationReconciler

} // namespace tc
