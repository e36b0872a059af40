#include "TranscriptionInfrastructure/audio/PulseAudioCapture.h"

#include "support/AudioSignals.h"
#include "support/Locked.h"
#include "support/PulseAudioServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

using namespace std::chrono_literals;

namespace tc::test {
namespace {

TEST(PulseAudioCapture, RecordsTheDefaultSourceAtItsOwnFormatInRequestedBlocksAndProbesWhatTheServerOffers)
{
    PulseAudioServer server({.pipeSources = {{"mic", 32000, 2}}});
    ASSERT_TRUE(server.isRunning()) << server.startError();
    const auto probed = [](std::chrono::milliseconds timeout = 2000ms) {
        const auto probe = PulseAudioCapture::probeServer(timeout);
        return std::vector<bool>{probe.reachable, probe.hasCaptureSource, probe.defaultSinkHasMonitor};
    };
    EXPECT_EQ(probed(), (std::vector<bool>{true, true, true}));

    Locked lock;
    std::vector<CaptureBuffer> buffers;
    std::size_t received = 0;
    bool ended = false;
    PulseAudioCapture capture(PulseAudioCapture::Device::defaultSource, 1024);
    capture.start(
        [&](const CaptureBuffer& buffer) {
            lock.change([&] {
                buffers.push_back(buffer);
                received += buffer.frameCount();
            });
        },
        [&](PulseAudioError::Kind) { lock.set(ended, true); });
    EXPECT_EQ(capture.deviceName(), "mic");
    EXPECT_EQ(capture.format(), (CaptureFormat{32000, 2}));
    server.writeToSource("mic", sine(440, 32000, 16000, 0.5f, 2));
    ASSERT_TRUE(lock.waitFor(5s, [&] { return received >= 16000; }));
    capture.stop();
    std::int64_t expectedPosition = buffers.front().samplePosition;
    for (const auto& buffer : buffers) {
        EXPECT_EQ(buffer.format, (CaptureFormat{32000, 2}));
        EXPECT_LE(buffer.frameCount(), 1024u);
        EXPECT_EQ(buffer.samplePosition, expectedPosition);
        expectedPosition += static_cast<std::int64_t>(buffer.frameCount());
    }
    EXPECT_FALSE(lock.read(ended));

    // Only the null sink left: its monitor is there, but nothing a microphone could be.
    ASSERT_TRUE(server.unloadDevice("mic"));
    EXPECT_EQ(probed(), (std::vector<bool>{true, false, true}));
    server.kill();
    EXPECT_EQ(probed(500ms), (std::vector<bool>{false, false, false}));
}

} // namespace
} // namespace tc::test
