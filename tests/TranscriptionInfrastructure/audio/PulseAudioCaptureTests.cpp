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

// What probeServer() finds out is checked through its one user, in PermissionManagerTests.
TEST(PulseAudioCapture, RecordsTheDefaultSourceAtItsOwnFormatInRequestedBlocks)
{
    PulseAudioServer server({.pipeSources = {{"mic", 32000, 2}}});
    ASSERT_TRUE(server.isRunning()) << server.startError();

    Locked lock;
    std::vector<CaptureBuffer> buffers;
    std::size_t received = 0;
    bool ended = false;
    PulseAudioCapture capture(PulseAudioCapture::Device::defaultSource, 1024);
    const auto started = capture.start(
        [&](const CaptureBuffer& buffer) {
            lock.change([&] {
                buffers.push_back(buffer);
                received += buffer.frameCount();
            });
        },
        [&](PulseAudioError::Kind) { lock.set(ended, true); });
    ASSERT_TRUE(started) << started.error().detail();
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
}

} // namespace
} // namespace tc::test
