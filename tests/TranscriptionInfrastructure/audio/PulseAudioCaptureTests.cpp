#include "TranscriptionInfrastructure/audio/PulseAudioCapture.h"

#include "support/AudioSignals.h"
#include "support/PulseAudioServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

using namespace std::chrono_literals;

namespace tc::test {
namespace {

// Collects what the tap receives.
struct Recorder {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<CaptureBuffer> buffers;
    bool ended = false;

    PulseAudioCapture::Tap tap()
    {
        return [this](const CaptureBuffer& buffer) {
            std::lock_guard lock(mutex);
            buffers.push_back(buffer);
            changed.notify_all();
        };
    }
    PulseAudioCapture::Ended onEnded()
    {
        return [this](PulseAudioError::Kind) {
            std::lock_guard lock(mutex);
            ended = true;
            changed.notify_all();
        };
    }
    template <class Predicate>
    bool waitFor(Predicate predicate, std::chrono::milliseconds timeout = 5000ms)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return predicate(*this); });
    }
    std::size_t framesAt(double rate)
    {
        std::size_t n = 0;
        for (const auto& b : buffers)
            if (b.format.sampleRate == rate) n += b.frameCount();
        return n;
    }
};

TEST(PulseAudioCapture, RecordsTheDefaultSourceAtItsOwnFormatInRequestedBlocksAndProbesWhatTheServerOffers)
{
    PulseAudioServer server({.pipeSources = {{"mic", 32000, 2}}});
    ASSERT_TRUE(server.isRunning()) << server.startError();
    const auto probed = [](std::chrono::milliseconds timeout = 2000ms) {
        const auto probe = PulseAudioCapture::probeServer(timeout);
        return std::vector<bool>{probe.reachable, probe.hasCaptureSource, probe.defaultSinkHasMonitor};
    };
    EXPECT_EQ(probed(), (std::vector<bool>{true, true, true}));

    Recorder recorder;
    PulseAudioCapture capture(PulseAudioCapture::Device::defaultSource, 1024);
    capture.start(recorder.tap(), recorder.onEnded());
    EXPECT_EQ(capture.deviceName(), "mic");
    EXPECT_EQ(capture.format(), (CaptureFormat{32000, 2}));
    server.writeToSource("mic", sine(440, 32000, 16000, 0.5f, 2));
    ASSERT_TRUE(recorder.waitFor([](Recorder& r) { return r.framesAt(32000) >= 16000; }));
    capture.stop();
    {
        std::lock_guard lock(recorder.mutex);
        std::int64_t expectedPosition = recorder.buffers.front().samplePosition;
        for (const auto& buffer : recorder.buffers) {
            EXPECT_LE(buffer.frameCount(), 1024u);
            EXPECT_EQ(buffer.samplePosition, expectedPosition);
            expectedPosition += static_cast<std::int64_t>(buffer.frameCount());
        }
        EXPECT_FALSE(recorder.ended);
    }

    // Only the null sink left: its monitor is there, but nothing a microphone could be.
    ASSERT_TRUE(server.unloadDevice("mic"));
    EXPECT_EQ(probed(), (std::vector<bool>{true, false, true}));
    server.kill();
    EXPECT_EQ(probed(500ms), (std::vector<bool>{false, false, false}));
}

} // namespace
} // namespace tc::test
