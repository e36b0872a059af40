#include "support/RecordingSink.h"

namespace tc::test {

void RecordingSink::emit(const OutputEvent& event)
{
    {
        std::lock_guard lock(m_mutex);
        m_events.push_back(event);
    }
    m_arrived.notify_all();
}

std::vector<OutputEvent> RecordingSink::events() const
{
    std::lock_guard lock(m_mutex);
    return m_events;
}

bool RecordingSink::waitForEvents(std::size_t n, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_arrived.wait_for(lock, timeout, [&] { return m_events.size() >= n; });
}

} // namespace tc::test
