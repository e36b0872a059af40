#include "TranscriptionInfrastructure/CompositionRoot.h"
#include "TranscriptionInfrastructure/audio/SystemAudioError.h"
#include "TranscriptionInfrastructure/audio/SystemAudioSource.h"

#include "support/AudioSignals.h"
#include "support/FrameCollector.h"
#include "support/PulseAudioServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using tc::SystemAudioError;
using tc::SystemAudioSource;
using tc::test::FrameCollector;
using tc::test::PulseAudioServer;

namespace {

// Half a second of a 440 Hz tone for a stereo output, in both channels or the left one only.
std::vector<float> tone(float amplitude, bool leftOnly = false)
{
    return tc::test::sine(440, 48000, 24000, amplitude, 2, leftOnly);
}

double loudestBlock(const std::vector<tc::AudioFrame>& frames)
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

std::optional<SystemAudioError::Kind> startFailure(SystemAudioSource& source)
{
    try {
        source.start();
    } catch (const SystemAudioError& error) {
        return error.kind();
    }
    source.stop();
    return std::nullopt;
}

} // namespace

TEST(SystemAudioSource, RecordsTheMeanOfTheChosenOrDefaultOutputAndWaitsWhenTheServerGoes)
{
    PulseAudioServer server({.extraSinks = {{"headphones", "USB Headphones"}}});
    ASSERT_TRUE(server.isRunning()) << server.startError();
    {
        // Only the left channel carries the tone: the mean is half as loud.
        SystemAudioSource system;
        FrameCollector collector(system.start());
        std::jthread player([&] { server.play(tone(0.5f, true), 48000, 2); });
        ASSERT_TRUE(loudestAbove(collector, 0.15));
        player.join();
        EXPECT_NEAR(loudestBlock(collector.frames()), 0.25 / std::sqrt(2.0), 0.01);
        for (const auto& frame : collector.frames()) {
            EXPECT_EQ(frame.sampleRate, 48000.0);
            EXPECT_EQ(frame.timestamp, 0.0);
        }
        system.stop();
        EXPECT_TRUE(collector.waitForEnd());
    }
    {
        // Both outputs play; only the chosen one is loud.
        SystemAudioSource system("headphones");
        FrameCollector collector(system.start());
        std::jthread quiet([&] { server.play(tone(0.05f), 48000, 2); });
        std::jthread loud([&] { server.play(tone(0.5f), 48000, 2, "headphones"); });
        EXPECT_TRUE(loudestAbove(collector, 0.3));
        system.stop();
    }

    // A name the server does not know, through the composition root as a run builds it: the default output is
    // recorded and the run hears why.
    std::mutex mutex;
    std::vector<std::string> notices;
    auto live = tc::CompositionRoot().makeLiveAudioSource(
        false, true,
        [&](const std::string& notice) {
            std::lock_guard lock(mutex);
            notices.push_back(notice);
        },
        {}, tc::AudioDeviceChoice{{}, "bluetooth-speaker"});
    FrameCollector collector(live->start());
    {
        std::jthread player([&] { server.play(tone(0.5f), 48000, 2); });
        EXPECT_TRUE(loudestAbove(collector, 0.3));
    }
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(notices, std::vector<std::string>{SystemAudioSource::fallbackNotice("bluetooth-speaker")});
        EXPECT_NE(notices.front().find("選んだ出力「bluetooth-speaker」"), std::string::npos);
    }

    // The server going away fails the stream with an error to wait out, and so does a start without it.
    server.kill();
    ASSERT_TRUE(collector.waitForEnd());
    try {
        std::rethrow_exception(collector.failure());
    } catch (const SystemAudioError& error) {
        EXPECT_EQ(error.kind(), SystemAudioError::Kind::serverUnavailable);
        EXPECT_EQ(error.recovery(), tc::PortFailure::Recovery::waitForReturn);
    } catch (...) {
        ADD_FAILURE() << "the stream did not fail with the system audio error";
    }
    live->stop();
    SystemAudioSource system;
    EXPECT_EQ(startFailure(system), SystemAudioError::Kind::serverUnavailable);
}

TEST(SystemAudioSource, WithoutAnyOutputThereIsNothingToRecord)
{
    PulseAudioServer server({.sinkName = ""});
    ASSERT_TRUE(server.isRunning()) << server.startError();
    SystemAudioSource system;
    EXPECT_EQ(startFailure(system), SystemAudioError::Kind::noOutputDevice);
}
