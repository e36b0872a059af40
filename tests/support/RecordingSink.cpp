#include "support/RecordingSink.h"

namespace tc::test {

void RecordingSink::emit(const OutputEvent& event)
{
    std::lock_guard lock(m_mutex);
    m_events.push_back(event);
}

std::vector<OutputEvent> RecordingSink::events() const
{
    std::lock_guard lock(m_mutex);
    return m_events;
}

} // namespace tc::test
