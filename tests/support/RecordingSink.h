#pragma once

#include "TranscriptionApplication/OutputSink.h"

#include <mutex>
#include <vector>

namespace tc::test {

// Keeps every event it receives, in order. Thread-safe (one mutex inside).
class RecordingSink : public OutputSink {
public:
    void emit(const OutputEvent& event) override;

    std::vector<OutputEvent> events() const;

private:
    mutable std::mutex m_mutex;
    std::vector<OutputEvent> m_events;
};

} // namespace tc::test
