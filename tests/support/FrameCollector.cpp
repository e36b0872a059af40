#include "support/FrameCollector.h"

#include <cmath>

namespace tc::test {

FrameCollector::FrameCollector(AudioFrameStream stream) : m_stream(std::move(stream))
{
    m_reader = std::jthread([this] {
        std::exception_ptr failure;
        try {
            while (auto frame = m_stream->next()) {
                std::lock_guard lock(m_mutex);
                m_frames.push_back(std::move(*frame));
                m_changed.notify_all();
            }
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard lock(m_mutex);
        m_failure = failure;
        m_ended = true;
        m_changed.notify_all();
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
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, timeout, [&] { return m_ended || predicate(m_frames); });
    return predicate(m_frames);
}

bool FrameCollector::waitForEnd(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_ended; });
}

std::vector<AudioFrame> FrameCollector::frames() const
{
    std::lock_guard lock(m_mutex);
    return m_frames;
}

std::exception_ptr FrameCollector::failure() const
{
    std::lock_guard lock(m_mutex);
    return m_failure;
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
    double sum = 0;
    std::size_t n = 0;
    std::size_t seen = 0;
    for (const auto& frame : frames) {
        if (frame.sampleRate != rate) continue;
        for (float s : frame.samples)
            if (seen++ >= skip) {
                sum += static_cast<double>(s) * s;
                ++n;
            }
    }
    return n ? std::sqrt(sum / static_cast<double>(n)) : 0;
}

} // namespace tc::test
