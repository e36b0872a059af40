#pragma once

#include "TranscriptionApplication/ConversationResponder.h"
#include "support/Locked.h"

#include <deque>
#include <optional>
#include <string>
#include <variant>

namespace tc::test {

// A responder answering from a script: each answer() takes the next scripted answer or failure, and fails when
// the script is empty. Answers can be held back until released, to test a question in flight. Thread-safe.
class FakeConversationResponder : public ConversationResponder {
public:
    void setAvailability(ConversationResponderAvailability availability)
    {
        m_lock.set(m_availability, std::move(availability));
    }
    void pushAnswer(ConversationAnswer answer)
    {
        m_lock.change([&] { m_script.emplace_back(std::move(answer)); });
    }
    void pushFailure(std::string message)
    {
        m_lock.change([&] { m_script.emplace_back(std::move(message)); });
    }
    // While held, answer() waits for release() (or its stop token).
    void hold() { m_lock.set(m_held, true); }
    void release() { m_lock.set(m_held, false); }

    ConversationResponderAvailability availability() override { return m_lock.read(m_availability); }
    ConversationAnswer answer(const std::string& question, const ConversationExcerpt& excerpt,
                              std::stop_token stop = {}) override;

    int calls() const { return m_lock.read(m_calls); }
    std::optional<std::string> lastQuestion() const { return m_lock.read(m_lastQuestion); }
    std::optional<ConversationExcerpt> lastExcerpt() const { return m_lock.read(m_lastExcerpt); }

private:
    Locked m_lock;
    ConversationResponderAvailability m_availability = ConversationResponderAvailability::available();
    std::deque<std::variant<ConversationAnswer, std::string>> m_script;
    bool m_held = false;
    int m_calls = 0;
    std::optional<std::string> m_lastQuestion;
    std::optional<ConversationExcerpt> m_lastExcerpt;
};

} // namespace tc::test
