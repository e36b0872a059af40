#pragma once

#include "TranscriptionApplication/ConversationResponderAvailability.h"
#include "TranscriptionDomain/ConversationAnswer.h"
#include "TranscriptionDomain/ConversationExcerpt.h"

#include <stop_token>
#include <string>

namespace tc {

// The local answering model. Thread-safe; the blocking calls belong off the UI thread.
class ConversationResponder {
public:
    virtual ~ConversationResponder() = default;

    // Whether answering can work now, with a Japanese reason when it cannot; a cheap read that never waits for a
    // model, so the UI thread may call it.
    virtual ConversationResponderAvailability availability() = 0;
    // Answers from the excerpt's lines, citing them by id. Throws a std::exception with a Japanese what() on
    // failure; returns early (throwing) when stop is requested.
    virtual ConversationAnswer answer(const std::string& question, const ConversationExcerpt& excerpt,
                                      std::stop_token stop = {}) = 0;
};

} // namespace tc
