#include "TranscriptionInfrastructure/audio/MicrophoneAudioSource.h"
#include "TranscriptionInfrastructure/audio/MicrophoneError.h"

#include "support/AudioSignals.h"
#include "support/FrameCollector.h"
#include "support/Locked.h"
#include "support/PulseAudioServer.h"
#include "support/ThrownKind.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace tc::test {
namespace {

using Frames = std::vector<AudioFrame>;

auto atLeast(std::size_t count, double rate)
{
    return [=](const Frames& frames) { return FrameCollector::samplesAt(frames, rate) >= count; };
}

TEST(MicrophoneAudioSource, RecordsTheDefaultInputFollowsANewOneAndWaitsWhenTheServerGoes)
{
    PulseAudioServer server;
    ASSERT_TRUE(server.isRunning()) << server.startError();
    MicrophoneAudioSource microphone(1024);
    auto stream = microphone.start();
    {
        // At the device's own rate, in blocks of at most the size asked for, each where the last one ended.
        FrameCollector collector(stream);
        server.writeToSource("mic", sine(440, 48000, 24000, 0.5f));
        ASSERT_TRUE(collector.waitFor(atLeast(24000, 48000)));
        const auto frames = collector.frames();
        EXPECT_NEAR(FrameCollector::rmsAt(frames, 48000), 0.5 / std::sqrt(2.0), 0.005);
        double expected = frames.front().timestamp;
        for (const auto& frame : frames) {
            EXPECT_EQ(frame.sampleRate, 48000.0);
            EXPECT_LE(frame.samples.size(), 1024u);
            EXPECT_NEAR(frame.timestamp, expected, 1e-9);
            expected += frame.duration();
        }
        // A stop ends the stream without an error, and a second one does nothing.
        microphone.stop();
        ASSERT_TRUE(collector.waitForEnd());
        EXPECT_FALSE(collector.failure());
    }
    EXPECT_TRUE(stream->isEnded());
    microphone.stop();

    // Started again, it follows a stereo headset at 44.1 kHz that becomes the default, in the same stream. Only
    // the left channel carries the tone: the mean is half as loud.
    stream = microphone.start();
    FrameCollector collector(stream);
    server.writeToSource("mic", sine(440, 48000, 4800, 0.5f));
    ASSERT_TRUE(collector.waitFor(atLeast(4800, 48000)));
    ASSERT_TRUE(server.addPipeSource({"headset", 44100, 2}));
    ASSERT_EQ(server.pactl("set-default-source headset"), 0);
    // A pipe source is read only while something records it: the tone waits in the pipe until the capture has
    // moved over.
    server.writeToSource("headset", sine(440, 44100, 44100, 0.5f, 2, true));
    ASSERT_TRUE(collector.waitFor(atLeast(44100, 44100)));
    EXPECT_NEAR(FrameCollector::rmsAt(collector.frames(), 44100), 0.25 / std::sqrt(2.0), 0.01);
    EXPECT_FALSE(stream->isEnded());

    // The server going away fails the stream with an error to wait out, and so does a start without it.
    server.kill();
    ASSERT_TRUE(collector.waitForEnd());
    ASSERT_TRUE(collector.failure());
    EXPECT_EQ(thrownKind<MicrophoneError>([&] { std::rethrow_exception(collector.failure()); }),
              MicrophoneError::Kind::serverUnavailable);
    microphone.stop();
    EXPECT_EQ(thrownKind<MicrophoneError>([&] { microphone.start(); }), MicrophoneError::Kind::serverUnavailable);
}

TEST(MicrophoneAudioSource, RecordsTheChosenInputAndTheDefaultWhileItIsGoneWithANotice)
{
    PulseAudioServer server({.pipeSources = {{"mic", 48000, 1}, {"headset", 48000, 1, "Headset Microphone"}}});
    ASSERT_TRUE(server.isRunning()) << server.startError();
    Locked lock;
    std::vector<std::string> notices;
    const auto noticesSoFar = [&] { return lock.read(notices); };
    MicrophoneAudioSource microphone(1024, "headset",
                                     [&](const std::string& notice) { lock.change([&] { notices.push_back(notice); }); });
    auto stream = microphone.start();
    FrameCollector collector(stream);
    // Both inputs hear something; only the chosen one is loud.
    server.writeToSource("mic", sine(440, 48000, 4800, 0.05f));
    server.writeToSource("headset", sine(880, 48000, 24000, 0.5f));
    ASSERT_TRUE(collector.waitFor(atLeast(24000, 48000)));
    EXPECT_NEAR(FrameCollector::rmsAt(collector.frames(), 48000), 0.5 / std::sqrt(2.0), 0.005);

    // Unplugged: the default input carries on in the same stream, and the user is told by the name they know.
    const auto before = FrameCollector::samplesAt(collector.frames(), 48000);
    ASSERT_TRUE(server.unloadDevice("headset"));
    // Each tone waits in its pipe until the capture records that input.
    server.writeToSource("mic", sine(440, 48000, 24000, 0.05f));
    ASSERT_TRUE(collector.waitFor(atLeast(before + 24000, 48000)));
    EXPECT_NEAR(FrameCollector::rmsAt(collector.frames(), 48000, before), 0.05 / std::sqrt(2.0), 0.005);
    EXPECT_EQ(noticesSoFar(), std::vector<std::string>{MicrophoneAudioSource::fallbackNotice("Headset Microphone")});

    // Plugged in again: back to it, without another notice.
    const auto returned = FrameCollector::samplesAt(collector.frames(), 48000);
    ASSERT_TRUE(server.addPipeSource({"headset", 48000, 1}));
    const auto loudAgain = [&](const Frames& frames) {
        return FrameCollector::samplesAt(frames, 48000) > returned + 4800 &&
               FrameCollector::rmsAt({frames.back()}, 48000) > 0.3;
    };
    server.writeToSource("headset", sine(880, 48000, 9600, 0.5f));
    ASSERT_TRUE(collector.waitFor(loudAgain));
    EXPECT_FALSE(stream->isEnded());
    EXPECT_EQ(noticesSoFar().size(), 1u);
    microphone.stop();

    // Only the output's monitor left: that is no microphone.
    ASSERT_TRUE(server.unloadDevice("headset"));
    ASSERT_TRUE(server.unloadDevice("mic"));
    EXPECT_EQ(thrownKind<MicrophoneError>([&] { microphone.start(); }), MicrophoneError::Kind::noInputDevice);
}

} // namespace
} // namespace tc::test
