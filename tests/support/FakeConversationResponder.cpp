#include "support/FakeConversationResponder.h"

#include <stdexcept>

namespace tc::test {

void FakeConversationResponder::setAvailability(ConversationResponderAvailability availability)
{
    std::lock_guard lock(m_mutex);
    m_availability = std::move(availability);
}

void FakeConversationResponder::pushAnswer(ConversationAnswer answer)
{
    std::lock_guard lock(m_mutex);
    m_script.emplace_back(std::move(answer));
}

void FakeConversationResponder::pushFailure(std::string message)
{
    std::lock_guard lock(m_mutex);
    m_script.emplace_back(std::move(message));
}

void FakeConversationResponder::hold()
{
    std::lock_guard lock(m_mutex);
    m_held = true;
}

void FakeConversationResponder::release()
{
    {
        std::lock_guard lock(m_mutex);
        m_held = false;
    }
    m_released.notify_all();
}

ConversationResponderAvailability FakeConversationResponder::availability()
{
    std::lock_guard lock(m_mutex);
    return m_availability;
}

ConversationAnswer FakeConversationResponder::answer(const std::string& question, const ConversationExcerpt& excerpt,
                                                     std::stop_token stop)
{
    std::unique_lock lock(m_mutex);
    ++m_calls;
    m_lastQuestion = question;
    m_lastExcerpt = excerpt;
    m_released.wait(lock, stop, [&] { return !m_held; });
    if (stop.stop_requested()) throw std::runtime_error("中断されました");
    if (m_script.empty()) throw std::runtime_error("回答が用意されていません");
    auto next = std::move(m_script.front());
    m_script.pop_front();
    if (auto* failure = std::get_if<std::string>(&next)) throw std::runtime_error(*failure);
    return std::get<ConversationAnswer>(std::move(next));
}

int FakeConversationResponder::calls() const
{
    std::lock_guard lock(m_mutex);
    return m_calls;
}

std::optional<std::string> FakeConversationResponder::lastQuestion() const
{
    std::lock_guard lock(m_mutex);
    return m_lastQuestion;
}

std::optional<ConversationExcerpt> FakeConversationResponder::lastExcerpt() const
{
    std::lock_guard lock(m_mutex);
    return m_lastExcerpt;
}

} // namespace tc::test
