#include "support/FakeConversationResponder.h"

#include <stdexcept>

namespace tc::test {

ConversationAnswer FakeConversationResponder::answer(const std::string& question, const ConversationExcerpt& excerpt,
                                                     std::stop_token stop)
{
    m_lock.change([&] {
        ++m_calls;
        m_lastQuestion = question;
        m_lastExcerpt = excerpt;
    });
    bool interrupted = false;
    auto next = m_lock.waitThen(
        stop, [&] { return !m_held; },
        [&]() -> std::optional<std::variant<ConversationAnswer, std::string>> {
            interrupted = stop.stop_requested();
            if (interrupted || m_script.empty()) return std::nullopt;
            auto front = std::move(m_script.front());
            m_script.pop_front();
            return front;
        });
    if (interrupted) throw std::runtime_error("中断されました");
    if (!next) throw std::runtime_error("回答が用意されていません");
    if (auto* failure = std::get_if<std::string>(&*next)) throw std::runtime_error(*failure);
    return std::get<ConversationAnswer>(std::move(*next));
}

} // namespace tc::test
