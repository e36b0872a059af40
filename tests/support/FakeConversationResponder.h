#pragma once

#include "TranscriptionApplication/ConversationResponder.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <variant>

namespace tc::test {

// A responder answering from a script: each answer() takes the next scripted answer or failure, and fails when
// the script is empty. Answers can be held back until released, to test a question in flight.
// Thread-safe (one mutex inside).
class FakeConversationResponder : public ConversationResponder {
public:
    void setAvailability(ConversationResponderAvailability availability);
    void pushAnswer(ConversationAnswer answer);
    void pushFailure(std::string message);
    // While held, answer() waits for release() (or its stop token).
    void hold();
    void release();

    ConversationResponderAvailability availability() override;
    ConversationAnswer answer(const std::string& question, const ConversationExcerpt& excerpt,
                              std::stop_token stop = {}) override;

    int calls() const;
    std::optional<std::string> lastQuestion() const;
    std::optional<ConversationExcerpt> lastExcerpt() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable_any m_released;
    ConversationResponderAvailability m_availability = ConversationResponderAvailability::available();
    std::deque<std::variant<ConversationAnswer, std::string>> m_script;
    bool m_held = false;
    int m_calls = 0;
    std::optional<std::string> m_lastQuestion;
    std::optional<ConversationExcerpt> m_lastExcerpt;
};

} // namespace tc::test
