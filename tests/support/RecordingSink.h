#pragma once

#include "TranscriptionApplication/OutputSink.h"
#include "support/Locked.h"

#include <vector>

namespace tc::test {

// Keeps every event it receives, in order. Thread-safe.
class RecordingSink : public OutputSink {
public:
    void emit(const OutputEvent& event) override
    {
        m_lock.change([&] { m_events.push_back(event); });
    }

    std::vector<OutputEvent> events() const { return m_lock.read(m_events); }
    // Waits until at least n events arrived (or the timeout passes); true when they did.
    bool waitForEvents(std::size_t n, std::chrono::milliseconds timeout)
    {
        return m_lock.waitFor(timeout, [&] { return m_events.size() >= n; });
    }

private:
    Locked m_lock;
    std::vector<OutputEvent> m_events;
};

} // namespace tc::test
