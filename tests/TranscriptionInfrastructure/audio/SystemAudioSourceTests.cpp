#include "TranscriptionInfrastructure/CompositionRoot.h"
#include "TranscriptionInfrastructure/audio/SystemAudioError.h"
#include "TranscriptionInfrastructure/audio/SystemAudioSource.h"

#include "support/AudioSignals.h"
#include "support/FrameCollector.h"
#include "support/Locked.h"
#include "support/PulseAudioServer.h"
#include "support/ThrownKind.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

namespace tc::test {
namespace {

// Half a second of a 440 Hz tone for a stereo output, in both channels or the left one only.
std::vector<float> tone(float amplitude, bool leftOnly = false)
{
    return sine(440, 48000, 24000, amplitude, 2, leftOnly);
}

double loudestBlock(const std::vector<AudioFrame>& frames)
{
    double most = 0;
    for (const auto& f : frames)
        if (f.samples.size() > 100) most = std::max(most, FrameCollector::rmsAt({f}, f.sampleRate));
    return most;
}

bool loudestAbove(FrameCollector& collector, double level)
{
    return collector.waitFor([&](const auto& frames) { return loudestBlock(frames) > level; });
}

TEST(SystemAudioSource, RecordsTheMeanOfTheChosenOrDefaultOutputAndWaitsWhenTheServerGoes)
{
    PulseAudioServer server({.extraSinks = {{"headphones", "USB Headphones"}}});
    ASSERT_TRUE(server.isRunning()) << server.startError();
    // The chosen output, and through the composition root an unknown one: the default output is recorded instead.
    Locked lock;
    std::vector<std::string> notices;
    auto live = CompositionRoot().makeLiveAudioSource(
        false, true, [&](const std::string& notice) { lock.change([&] { notices.push_back(notice); }); }, {},
        AudioDeviceChoice{{}, "bluetooth-speaker"});
    FrameCollector collector(live->start());
    SystemAudioSource chosen("headphones");
    FrameCollector chosenCollector(chosen.start());
    // Both play; only the left channel of the default carries its tone, so its mean is half as loud.
    {
        std::jthread loud([&] { server.play(tone(0.5f), 48000, 2, "headphones"); });
        server.play(tone(0.5f, true), 48000, 2);
    }
    ASSERT_TRUE(loudestAbove(chosenCollector, 0.3));
    EXPECT_NEAR(loudestBlock(chosenCollector.frames()), 0.5 / std::sqrt(2.0), 0.01);
    EXPECT_NEAR(loudestBlock(collector.frames()), 0.25 / std::sqrt(2.0), 0.01);
    for (const auto& frame : collector.frames()) {
        EXPECT_EQ(frame.sampleRate, 48000.0);
        EXPECT_EQ(frame.timestamp, 0.0);
    }
    chosen.stop();
    EXPECT_TRUE(chosenCollector.waitForEnd());
    EXPECT_EQ(lock.read(notices), std::vector<std::string>{SystemAudioSource::fallbackNotice("bluetooth-speaker")});

    // The server going away fails the stream with an error to wait out, and so does a start without it.
    server.kill();
    ASSERT_TRUE(collector.waitForEnd());
    ASSERT_TRUE(collector.failure());
    EXPECT_EQ(thrownKind<SystemAudioError>([&] { std::rethrow_exception(collector.failure()); }),
              SystemAudioError::Kind::serverUnavailable);
    live->stop();
    EXPECT_EQ(thrownKind<SystemAudioError>([] { SystemAudioSource().start(); }),
              SystemAudioError::Kind::serverUnavailable);
}

TEST(SystemAudioSource, WithoutAnyOutputThereIsNothingToRecord)
{
    PulseAudioServer server({.sinkName = ""});
    ASSERT_TRUE(server.isRunning()) << server.startError();
    EXPECT_EQ(thrownKind<SystemAudioError>([] { SystemAudioSource().start(); }),
              SystemAudioError::Kind::noOutputDevice);
}

} // namespace
} // namespace tc::test
