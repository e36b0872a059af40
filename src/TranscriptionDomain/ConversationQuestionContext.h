#pragma once

#include "TranscriptionDomain/ConversationExcerpt.h"
#include "TranscriptionDomain/FinalizedLine.h"

#include <cstdint>
#include <vector>

namespace tc {

// Chooses which lines the answering model sees. Pure; any thread.
namespace ConversationQuestionContext {

// The last maxLines non-blank lines, whole and in order; empty when maxLines < 1.
ConversationExcerpt excerpt(const std::vector<FinalizedLine>& lines, std::int64_t maxLines);

} // namespace ConversationQuestionContext

} // namespace tc
