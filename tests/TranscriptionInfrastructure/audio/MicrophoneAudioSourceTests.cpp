#include "TranscriptionInfrastructure/audio/MicrophoneAudioSource.h"
#include "TranscriptionInfrastructure/audio/MicrophoneError.h"
#include "TranscriptionInfrastructure/audio/MixedAudioSource.h"

#include "support/FrameCollector.h"
#include "support/PulseAudioServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <numbers>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using tc::AudioFrame;
using tc::MicrophoneAudioSource;
using tc::MicrophoneError;
using tc::test::FrameCollector;
using tc::test::PulseAudioServer;

namespace {

std::vector<float> sine(double frequency, double rate, double seconds, float amplitude, int channels = 1,
                        bool onlyFirstChannel = false)
{
    const auto frames = static_cast<std::size_t>(rate * seconds);
    const auto n = static_cast<std::size_t>(channels);
    std::vector<float> out(frames * n, 0.0f);
    for (std::size_t i = 0; i < frames; ++i)
        for (std::size_t c = 0; c < (onlyFirstChannel ? 1 : n); ++c)
            out[i * n + c] =
                amplitude *
                static_cast<float>(std::sin(2 * std::numbers::pi * frequency * static_cast<double>(i) / rate));
    return out;
}

using Frames = std::vector<AudioFrame>;

auto atLeast(std::size_t count, double rate)
{
    return [=](const Frames& frames) { return FrameCollector::samplesAt(frames, rate) >= count; };
}

} // namespace

TEST(MicrophoneAudioSource, MakesMonoFramesTimedByTheirPosition)
{
    const float left[] = {1.0f, 0.0f};
    const float right[] = {0.0f, -0.5f};
    const float* stereo[] = {left, right};
    auto frame = MicrophoneAudioSource::frame({stereo, 2, 2}, 48000, 96000);
    EXPECT_EQ(frame.samples, (std::vector<float>{0.5f, -0.25f}));
    EXPECT_EQ(frame.sampleRate, 48000.0);
    EXPECT_EQ(frame.timestamp, 2.0);

    const float* mono[] = {right};
    frame = MicrophoneAudioSource::frame({mono, 1, 2}, 0, 96000);
    EXPECT_EQ(frame.samples, (std::vector<float>{0.0f, -0.5f}));
    EXPECT_EQ(frame.timestamp, 0.0);
    EXPECT_TRUE(MicrophoneAudioSource().isContinuous());
}

TEST(MicrophoneAudioSource, AToneIntoTheInputArrivesAsFramesAtItsRateAndLevel)
{
    PulseAudioServer server;
    ASSERT_TRUE(server.isRunning()) << server.startError();
    MicrophoneAudioSource microphone(1024);
    auto stream = microphone.start();
    FrameCollector collector(stream);
    server.writeToSource("mic", sine(440, 48000, 0.5, 0.5f));
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

    // After stop the stream ends; a new start captures again.
    microphone.stop();
    EXPECT_TRUE(stream->isEnded());
    microphone.stop();
    FrameCollector again(microphone.start());
    server.writeToSource("mic", sine(440, 48000, 0.1, 0.5f));
    EXPECT_TRUE(again.waitFor(atLeast(4800, 48000)));
    microphone.stop();
}

TEST(MicrophoneAudioSource, AStereoInputGivesTheMeanOfItsChannels)
{
    PulseAudioServer::Options options;
    options.pipeSources = {{"mic", 44100, 2}};
    PulseAudioServer server(options);
    ASSERT_TRUE(server.isRunning()) << server.startError();
    MicrophoneAudioSource microphone;
    FrameCollector collector(microphone.start());
    // Only the left channel carries the tone: the mean is half as loud.
    server.writeToSource("mic", sine(440, 44100, 0.5, 0.5f, 2, true));
    ASSERT_TRUE(collector.waitFor(atLeast(22050, 44100)));
    EXPECT_NEAR(FrameCollector::rmsAt(collector.frames(), 44100), 0.25 / std::sqrt(2.0), 0.005);
    microphone.stop();
}

TEST(MicrophoneAudioSource, FollowsANewDefaultInputWithItsRateAndKeepsTheStream)
{
    PulseAudioServer server;
    ASSERT_TRUE(server.isRunning()) << server.startError();
    MicrophoneAudioSource microphone;
    auto stream = microphone.start();
    FrameCollector collector(stream);
    server.writeToSource("mic", sine(440, 48000, 0.2, 0.5f));
    ASSERT_TRUE(collector.waitFor(atLeast(9600, 48000)));

    ASSERT_TRUE(server.addPipeSource({"headset", 16000, 1}));
    ASSERT_EQ(server.pactl("set-default-source headset"), 0);
    // Written until the reopened stream, at the headset's rate, has picked a full second up.
    for (int attempt = 0; attempt < 50 && !collector.waitFor(atLeast(16000, 16000), 100ms); ++attempt)
        server.writeToSource("headset", sine(440, 16000, 0.1, 0.5f));
    const auto frames = collector.frames();
    EXPECT_GE(FrameCollector::samplesAt(frames, 16000), 16000u);
    EXPECT_NEAR(FrameCollector::rmsAt(frames, 16000), 0.5 / std::sqrt(2.0), 0.01);
    EXPECT_FALSE(stream->isEnded());
    microphone.stop();
}

TEST(MicrophoneAudioSource, RecordsTheChosenInputAndTheDefaultWhileItIsGoneWithANotice)
{
    PulseAudioServer::Options options;
    options.pipeSources = {{"mic", 48000, 1}, {"headset", 48000, 1, "Headset Microphone"}};
    PulseAudioServer server(options);
    ASSERT_TRUE(server.isRunning()) << server.startError();
    std::mutex mutex;
    std::vector<std::string> notices;
    MicrophoneAudioSource microphone(1024, "headset", [&](const std::string& notice) {
        std::lock_guard lock(mutex);
        notices.push_back(notice);
    });
    auto stream = microphone.start();
    FrameCollector collector(stream);
    // Both inputs hear something; only the chosen one is loud.
    server.writeToSource("mic", sine(440, 48000, 0.1, 0.05f));
    server.writeToSource("headset", sine(880, 48000, 0.5, 0.5f));
    ASSERT_TRUE(collector.waitFor(atLeast(24000, 48000)));
    EXPECT_NEAR(FrameCollector::rmsAt(collector.frames(), 48000), 0.5 / std::sqrt(2.0), 0.005);

    // Unplugged: the default input carries on in the same stream, and the user is told by the name they know.
    const auto before = FrameCollector::samplesAt(collector.frames(), 48000);
    ASSERT_TRUE(server.unloadDevice("headset"));
    for (int attempt = 0; attempt < 50 && !collector.waitFor(atLeast(before + 24000, 48000), 100ms); ++attempt)
        server.writeToSource("mic", sine(440, 48000, 0.1, 0.05f));
    EXPECT_NEAR(FrameCollector::rmsAt(collector.frames(), 48000, before), 0.05 / std::sqrt(2.0), 0.005);
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(notices, std::vector<std::string>{MicrophoneAudioSource::fallbackNotice("Headset Microphone")});
    }
    EXPECT_NE(MicrophoneAudioSource::fallbackNotice("Headset Microphone").find("選んだマイク「Headset Microphone」"),
              std::string::npos);

    // Plugged in again: back to it, without another notice.
    const auto returned = FrameCollector::samplesAt(collector.frames(), 48000);
    ASSERT_TRUE(server.addPipeSource({"headset", 48000, 1}));
    const auto loudAgain = [&](const Frames& frames) {
        return FrameCollector::samplesAt(frames, 48000) > returned + 4800 &&
               FrameCollector::rmsAt({frames.back()}, 48000) > 0.3;
    };
    for (int attempt = 0; attempt < 50 && !collector.waitFor(loudAgain, 100ms); ++attempt)
        server.writeToSource("headset", sine(880, 48000, 0.1, 0.5f));
    EXPECT_TRUE(loudAgain(collector.frames()));
    EXPECT_FALSE(stream->isEnded());
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(notices.size(), 1u);
    }
    microphone.stop();

    // Missing from the start: the default is recorded, the notice names what was chosen.
    MicrophoneAudioSource missing(1024, "usb-mic", [&](const std::string& notice) {
        std::lock_guard lock(mutex);
        notices.push_back(notice);
    });
    FrameCollector fallback(missing.start());
    server.writeToSource("mic", sine(440, 48000, 0.2, 0.05f));
    ASSERT_TRUE(fallback.waitFor(atLeast(9600, 48000)));
    missing.stop();
    std::lock_guard lock(mutex);
    EXPECT_EQ(notices.back(), MicrophoneAudioSource::fallbackNotice("usb-mic"));
}

TEST(MicrophoneAudioSource, TheServerGoingAwayFailsTheStreamWithAnErrorToWaitOut)
{
    PulseAudioServer server;
    ASSERT_TRUE(server.isRunning()) << server.startError();
    MicrophoneAudioSource microphone;
    FrameCollector collector(microphone.start());
    server.kill();
    ASSERT_TRUE(collector.waitForEnd());
    try {
        std::rethrow_exception(collector.failure());
    } catch (const MicrophoneError& error) {
        EXPECT_EQ(error.kind(), MicrophoneError::Kind::serverUnavailable);
        EXPECT_EQ(error.recovery(), tc::PortFailure::Recovery::waitForReturn);
    } catch (...) {
        ADD_FAILURE() << "the stream did not fail with the microphone's error";
    }
    microphone.stop();
    microphone.stop();
}

TEST(MicrophoneAudioSource, NoServerThrowsAJapaneseErrorThatTheMixPassesOnSilently)
{
    PulseAudioServer server;
    ASSERT_TRUE(server.isRunning()) << server.startError();
    server.kill();
    auto microphone = std::make_shared<MicrophoneAudioSource>();
    try {
        microphone->start();
        FAIL() << "started without a server";
    } catch (const MicrophoneError& error) {
        EXPECT_EQ(error.kind(), MicrophoneError::Kind::serverUnavailable);
        EXPECT_NE(std::string(error.what()).find("サウンドサーバー"), std::string::npos);
    }
    microphone->stop();

    // With every member gone the session waits: the mix says so once, by its error, not by a notice per member.
    std::vector<std::string> notices;
    tc::MixedAudioSource mixed({{tc::AudioSourceID::microphone, microphone}},
                               [&](const std::string& notice) { notices.push_back(notice); }, {});
    EXPECT_THROW(mixed.start(), MicrophoneError);
    EXPECT_TRUE(notices.empty());
    mixed.stop();
}

TEST(MicrophoneAudioSource, OnlyAMonitorIsNoMicrophone)
{
    PulseAudioServer::Options options;
    options.pipeSources.clear();
    PulseAudioServer server(options);
    ASSERT_TRUE(server.isRunning()) << server.startError();
    MicrophoneAudioSource microphone;
    try {
        microphone.start();
        FAIL() << "recorded the output's monitor as a microphone";
    } catch (const MicrophoneError& error) {
        EXPECT_EQ(error.kind(), MicrophoneError::Kind::noInputDevice);
    }
}
