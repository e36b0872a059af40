#pragma once

#include <string>

namespace tc {

// Whether the answering model can be used; the reason is Japanese text meant for display. An available
// responder may carry a note for the user about how it answers (Japanese, shown under the question field).
class ConversationResponderAvailability {
public:
    static ConversationResponderAvailability available(std::string note = {})
    {
        auto value = ConversationResponderAvailability(true, {});
        value.m_note = std::move(note);
        return value;
    }
    static ConversationResponderAvailability unavailable(std::string reason)
    {
        return ConversationResponderAvailability(false, std::move(reason));
    }

    bool isAvailable() const { return m_available; }
    // Empty when available.
    const std::string& reason() const { return m_reason; }
    // How answers are made, when the user should know; empty when unavailable or nothing to say.
    const std::string& note() const { return m_note; }

    friend bool operator==(const ConversationResponderAvailability&,
                           const ConversationResponderAvailability&) = default;

private:
    ConversationResponderAvailability(bool isAvailable, std::string reason)
        : m_available(isAvailable), m_reason(std::move(reason))
    {}

    bool m_available;
    std::string m_reason;
    std::string m_note;
};

} // namespace tc
