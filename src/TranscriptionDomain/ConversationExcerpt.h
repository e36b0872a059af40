#pragma once

#include "TranscriptionDomain/FinalizedLine.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace tc {

// The lines given to the answering model; line n (from 1) is the n-th element.
class ConversationExcerpt {
public:
    ConversationExcerpt() = default;
    explicit ConversationExcerpt(std::vector<FinalizedLine> lines);

    const std::vector<FinalizedLine>& lines() const { return m_lines; }
    bool isEmpty() const { return m_lines.empty(); }
    // The id of line n when 1 <= n <= the number of lines; nothing otherwise.
    std::optional<Uuid> idForNumber(std::int64_t number) const;

    friend bool operator==(const ConversationExcerpt&, const ConversationExcerpt&) = default;

private:
    std::vector<FinalizedLine> m_lines;
};

} // namespace tc
