#pragma once

#include "TranscriptionDomain/Uuid.h"

#include <string>
#include <vector>

namespace tc {

// The answer to one question with the cited lines, without repetitions, in citation order.
struct ConversationAnswer {
    std::string text;
    std::vector<Uuid> sourceLineIDs;

    friend bool operator==(const ConversationAnswer&, const ConversationAnswer&) = default;
};

} // namespace tc
