#include "support/ScriptedTranscriber.h"

#include "TranscriptionDomain/Uuid.h"


namespace tc::test {

ScriptedTranscriber::~ScriptedTranscriber()
{
    std::vector<std::jthread> threads;
    {
        std::lock_guard lock(m_mutex);
        threads = std::move(m_threads);
    }
    for (auto& thread : threads)
        thread.request_stop();
}

SegmentStream ScriptedTranscriber::transcribe(AudioFrameStream frames)
{
    auto output = Channel<TranscriptSegment>::make();
    std::jthread drain([this, frames, output](std::stop_token stop) {
        try {
            while (frames->next(stop)) {
            }
            output->finish();
        } catch (...) {
            output->fail(std::current_exception());
        }
    });
    // Cancelling the segments stops the recognition, as the port requires.
    output->onTermination([stopper = drain.get_stop_source()]() mutable { stopper.request_stop(); });
    {
        std::lock_guard lock(m_mutex);
        m_current = output;
        ++m_recognitions;
        m_threads.push_back(std::move(drain));
    }
    m_changed.notify_all();
    return output;
}

bool ScriptedTranscriber::emitSegment(const std::string& text, bool isFinal)
{
    SegmentStream current;
    {
        std::lock_guard lock(m_mutex);
        current = m_current;
    }
    if (!current) return false;
    TranscriptSegment segment{Uuid::random(), text,
                              isFinal ? TranscriptSegment::Status::finalized : TranscriptSegment::Status::volatile_, 0,
                              0};
    return current->yield(std::move(segment));
}

bool ScriptedTranscriber::waitForRecognitions(int n, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_recognitions >= n; });
}

} // namespace tc::test
