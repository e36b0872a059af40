#pragma once

#include <string>

namespace tc {

// Whether the answering model can be used; the reason is Japanese text meant for display.
class ConversationResponderAvailability {
public:
    static ConversationResponderAvailability available() { return ConversationResponderAvailability(true, {}); }
    static ConversationResponderAvailability unavailable(std::string reason)
    {
        return ConversationResponderAvailability(false, std::move(reason));
    }

    bool isAvailable() const { return m_available; }
    // Empty when available.
    const std::string& reason() const { return m_reason; }

    friend bool operator==(const ConversationResponderAvailability&,
                           const ConversationResponderAvailability&) = default;

private:
    ConversationResponderAvailability(bool isAvailable, std::string reason)
        : m_available(isAvailable), m_reason(std::move(reason))
    {}

    bool m_available;
    std::string m_reason;
};

} // namespace tc
