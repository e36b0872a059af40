#pragma once

#include "TranscriptionApplication/OutputSink.h"
#include "TranscriptionDomain/FinalizedLine.h"
#include "TranscriptionDomain/ReferenceDate.h"

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace tc {

// Keeps every settled line of a session, with its recognized audio times, for an export at the end, and passes
// every event on to another sink. Serialises its state with one mutex; any thread may emit.
class TranscriptCollectingSink final : public OutputSink {
public:
    using Clock = std::function<Date()>;

    // next may be null; clock gives a line's finalized time (the wall clock by default).
    explicit TranscriptCollectingSink(std::shared_ptr<OutputSink> next, Clock clock = {});

    // Keeps a non-blank finalized line and forwards the event; never throws.
    void emit(const OutputEvent& event) override;
    // The lines kept so far, in the order they settled.
    std::vector<FinalizedLine> lines() const;

private:
    std::shared_ptr<OutputSink> m_next;
    Clock m_clock;
    mutable std::mutex m_mutex;
    std::vector<FinalizedLine> m_lines;
};

} // namespace tc
