#include "TranscriptionCorvane/TranscriptCollectingSink.h"

#include "TranscriptionDomain/BlankText.h"

namespace tc {

TranscriptCollectingSink::TranscriptCollectingSink(std::shared_ptr<OutputSink> next, Clock clock)
    : m_next(std::move(next)), m_clock(clock ? std::move(clock) : Clock(currentDate))
{}

void TranscriptCollectingSink::emit(const OutputEvent& event)
{
    if (event.kind == OutputEvent::Kind::finalizedTranscript && !isBlankText(event.text)) {
        FinalizedLine line{Uuid::random(), event.text, m_clock()};
        line.start = event.start;
        line.end = event.end;
        std::lock_guard lock(m_mutex);
        m_lines.push_back(std::move(line));
    }
    if (m_next) m_next->emit(event);
}

std::vector<FinalizedLine> TranscriptCollectingSink::lines() const
{
    std::lock_guard lock(m_mutex);
    return m_lines;
}

} // namespace tc
