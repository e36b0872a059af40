#pragma once

#include "TranscriptionApplication/OutputSink.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace tc::test {

// Keeps every event it receives, in order. Thread-safe (one mutex inside).
class RecordingSink : public OutputSink {
public:
    void emit(const OutputEvent& event) override;

    std::vector<OutputEvent> events() const;
    // Waits until at least n events arrived (or the timeout passes); true when they did.
    bool waitForEvents(std::size_t n, std::chrono::milliseconds timeout);

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<OutputEvent> m_events;
};

} // namespace tc::test
