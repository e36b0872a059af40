#include "support/FrameCollector.h"
#include "support/AudioSignals.h"

#include <algorithm>

namespace tc::test {

FrameCollector::FrameCollector(AudioFrameStream stream) : m_stream(std::move(stream))
{
    m_reader = std::jthread([this] {
        std::exception_ptr failure;
        try {
            while (auto frame = m_stream->next())
                m_lock.change([&] { m_frames.push_back(std::move(*frame)); });
        } catch (...) {
            failure = std::current_exception();
        }
        m_lock.change([&] {
            m_failure = failure;
            m_ended = true;
        });
    });
}

FrameCollector::~FrameCollector()
{
    m_stream->cancel();
    m_reader.join();
}

bool FrameCollector::waitFor(const std::function<bool(const std::vector<AudioFrame>&)>& predicate,
                             std::chrono::milliseconds timeout)
{
    bool holds = false;
    m_lock.waitFor(timeout, [&] { return (holds = predicate(m_frames)) || m_ended; });
    return holds;
}

std::size_t FrameCollector::samplesAt(const std::vector<AudioFrame>& frames, double rate)
{
    std::size_t n = 0;
    for (const auto& frame : frames)
        if (frame.sampleRate == rate) n += frame.samples.size();
    return n;
}

double FrameCollector::rmsAt(const std::vector<AudioFrame>& frames, double rate, std::size_t skip)
{
    std::vector<float> samples;
    for (const auto& frame : frames)
        if (frame.sampleRate == rate) samples.insert(samples.end(), frame.samples.begin(), frame.samples.end());
    return rms(std::span(samples).subspan(std::min(skip, samples.size())));
}

} // namespace tc::test
