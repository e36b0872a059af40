#pragma once

#include "TranscriptionDomain/ConversationExcerpt.h"

#include <string>
#include <vector>

namespace tc::test {

// An excerpt of final lines with fresh ids, all at time 0.
ConversationExcerpt excerptOf(const std::vector<std::string>& texts);

} // namespace tc::test
