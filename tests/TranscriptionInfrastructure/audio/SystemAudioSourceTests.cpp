#include "TranscriptionInfrastructure/CompositionRoot.h"
#include "TranscriptionInfrastructure/audio/SystemAudioError.h"
#include "TranscriptionInfrastructure/audio/SystemAudioSource.h"

#include "support/FrameCollector.h"
#include "support/PulseAudioServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using tc::SystemAudioError;
using tc::SystemAudioSource;
using tc::test::FrameCollector;
using tc::test::PulseAudioServer;

TEST(SystemAudioSource, SoundPlayedIntoTheOutputArrivesAsFrames)
{
    PulseAudioServer server;
    ASSERT_TRUE(server.isRunning()) << server.startError();
    SystemAudioSource system;
    EXPECT_TRUE(system.isContinuous());
    auto stream = system.start();
    FrameCollector collector(stream);

    // Half a second of a 440 Hz tone at 0.5 in both channels.
    std::vector<float> stereo(48000);
    for (std::size_t i = 0; i < 24000; ++i)
        stereo[2 * i] = stereo[2 * i + 1] =
            0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 440.0 * static_cast<double>(i) / 48000));
    std::jthread player([&] { server.play(stereo, 48000, 2); });
    const auto loudBlock = [](const std::vector<tc::AudioFrame>& frames) {
        for (const auto& f : frames)
            if (f.samples.size() > 100 && FrameCollector::rmsAt({f}, f.sampleRate) > 0.3) return true;
        return false;
    };
    ASSERT_TRUE(collector.waitFor(loudBlock));
    for (const auto& frame : collector.frames()) {
        EXPECT_EQ(frame.sampleRate, 48000.0);
        EXPECT_EQ(frame.timestamp, 0.0);
    }
    player.join();
    system.stop();
    EXPECT_TRUE(collector.waitForEnd());
    system.stop();
}

TEST(SystemAudioSource, AStereoOutputGivesTheMeanOfItsChannels)
{
    PulseAudioServer server;
    ASSERT_TRUE(server.isRunning()) << server.startError();
    SystemAudioSource system;
    FrameCollector collector(system.start());

    // Only the left channel carries the tone: the mean is half as loud.
    std::vector<float> stereo(48000, 0.0f);
    for (std::size_t i = 0; i < 24000; ++i)
        stereo[2 * i] =
            0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 440.0 * static_cast<double>(i) / 48000));
    std::jthread player([&] { server.play(stereo, 48000, 2); });
    const auto loudest = [](const std::vector<tc::AudioFrame>& frames) {
        double most = 0;
        for (const auto& f : frames)
            if (f.samples.size() > 100) most = std::max(most, FrameCollector::rmsAt({f}, f.sampleRate));
        return most;
    };
    ASSERT_TRUE(collector.waitFor([&](const auto& frames) { return loudest(frames) > 0.15; }));
    player.join();
    EXPECT_NEAR(loudest(collector.frames()), 0.25 / std::sqrt(2.0), 0.01);
    system.stop();
}

TEST(SystemAudioSource, RecordsTheChosenOutputAndTheDefaultWhenItIsMissingWithANotice)
{
    PulseAudioServer::Options options;
    options.extraSinks = {{"headphones", "USB Headphones"}};
    PulseAudioServer server(options);
    ASSERT_TRUE(server.isRunning()) << server.startError();
    const auto tone = [](float amplitude) {
        std::vector<float> stereo(48000);
        for (std::size_t i = 0; i < 24000; ++i)
            stereo[2 * i] = stereo[2 * i + 1] =
                amplitude * static_cast<float>(std::sin(2 * std::numbers::pi * 440.0 * static_cast<double>(i) / 48000));
        return stereo;
    };
    const auto loudest = [](const std::vector<tc::AudioFrame>& frames) {
        double most = 0;
        for (const auto& f : frames)
            if (f.samples.size() > 100) most = std::max(most, FrameCollector::rmsAt({f}, f.sampleRate));
        return most;
    };
    {
        // Both outputs play; only the chosen one is loud.
        SystemAudioSource system("headphones");
        FrameCollector collector(system.start());
        std::jthread quiet([&] { server.play(tone(0.05f), 48000, 2); });
        std::jthread loud([&] { server.play(tone(0.5f), 48000, 2, "headphones"); });
        EXPECT_TRUE(collector.waitFor([&](const auto& frames) { return loudest(frames) > 0.3; }));
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
    std::jthread player([&] { server.play(tone(0.5f), 48000, 2); });
    EXPECT_TRUE(collector.waitFor([&](const auto& frames) { return loudest(frames) > 0.3; }));
    live->stop();
    std::lock_guard lock(mutex);
    EXPECT_EQ(notices, std::vector<std::string>{SystemAudioSource::fallbackNotice("bluetooth-speaker")});
    EXPECT_NE(notices.front().find("選んだ出力「bluetooth-speaker」"), std::string::npos);
}

TEST(SystemAudioSource, TheServerGoingAwayFailsTheStreamWithAnErrorToWaitOut)
{
    PulseAudioServer server;
    ASSERT_TRUE(server.isRunning()) << server.startError();
    SystemAudioSource system;
    FrameCollector collector(system.start());
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
    system.stop();
    system.stop();
}

TEST(SystemAudioSource, StartFailuresAreNamedTruthfully)
{
    {
        // No output at all: nothing to monitor.
        PulseAudioServer::Options options;
        options.sinkName.clear();
        PulseAudioServer server(options);
        ASSERT_TRUE(server.isRunning()) << server.startError();
        SystemAudioSource system;
        try {
            system.start();
            FAIL() << "started without an output";
        } catch (const SystemAudioError& error) {
            EXPECT_EQ(error.kind(), SystemAudioError::Kind::noOutputDevice);
            EXPECT_NE(std::string(error.what()).find("出力デバイス"), std::string::npos);
        }
        system.stop();
    }
    {
        PulseAudioServer server;
        ASSERT_TRUE(server.isRunning()) << server.startError();
        server.kill();
        SystemAudioSource system;
        try {
            system.start();
            FAIL() << "started without a server";
        } catch (const SystemAudioError& error) {
            EXPECT_EQ(error.kind(), SystemAudioError::Kind::serverUnavailable);
        }
    }
}
