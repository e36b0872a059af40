#include "support/ScriptedTranscriber.h"

#include "TranscriptionDomain/Uuid.h"

namespace tc::test {

ScriptedTranscriber::~ScriptedTranscriber()
{
    for (auto& thread : m_lock.change([&] { return std::move(m_threads); }))
        thread.request_stop();
}

SegmentStream ScriptedTranscriber::transcribe(AudioFrameStream frames)
{
    auto output = Channel<TranscriptSegment>::make();
    std::jthread drain([frames, output](std::stop_token stop) {
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
    m_lock.change([&] {
        m_current = output;
        ++m_recognitions;
        m_threads.push_back(std::move(drain));
    });
    return output;
}

bool ScriptedTranscriber::emitSegment(const std::string& text, bool isFinal)
{
    const auto current = m_lock.read(m_current);
    return current &&
           current->yield({Uuid::random(), text,
                           isFinal ? TranscriptSegment::Status::finalized : TranscriptSegment::Status::volatile_, 0,
                           0});
}

} // namespace tc::test
