#include "TranscriptionInfrastructure/audio/SystemAudioError.h"
#include "TranscriptionInfrastructure/audio/SystemAudioSource.h"

#include "support/FrameCollector.h"
#include "support/PulseAudioServer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using tc::AudioBufferData;
using tc::AudioStreamDescription;
using tc::SystemAudioError;
using tc::SystemAudioSampleBuffer;
using tc::SystemAudioSource;
using tc::test::FrameCollector;
using tc::test::PulseAudioServer;

namespace {

constexpr std::uint32_t kFloat = AudioStreamDescription::formatFlagIsFloat;

AudioBufferData bufferOf(const std::vector<float>& samples, std::uint32_t channels)
{
    return {channels, static_cast<std::uint32_t>(samples.size() * sizeof(float)), samples.data()};
}

SystemAudioSampleBuffer sampleBuffer(double rate, std::uint32_t flags, std::uint32_t channels,
                                     std::vector<AudioBufferData> buffers)
{
    SystemAudioSampleBuffer buffer;
    buffer.description = AudioStreamDescription{rate, flags, channels};
    buffer.buffers = std::move(buffers);
    return buffer;
}

} // namespace

TEST(SystemAudioSource, ConvertsPerChannelBuffersToTheirMean)
{
    std::vector<float> left(960), right(960);
    for (std::size_t i = 0; i < 960; ++i) {
        left[i] = static_cast<float>(i) / 960.0f;
        right[i] = -0.25f;
    }
    auto frame = SystemAudioSource::audioFrame(sampleBuffer(48000, kFloat, 2, {bufferOf(left, 1), bufferOf(right, 1)}));
    ASSERT_TRUE(frame.has_value());
    ASSERT_EQ(frame->samples.size(), 960u);
    for (std::size_t i = 0; i < 960; ++i)
        EXPECT_FLOAT_EQ(frame->samples[i], (left[i] + right[i]) / 2.0f);
    EXPECT_EQ(frame->sampleRate, 48000.0);
    EXPECT_EQ(frame->timestamp, 0.0);

    // Channels of different lengths give as many samples as the shorter one has.
    const std::vector<float> shorter(500, 0.5f);
    frame = SystemAudioSource::audioFrame(sampleBuffer(48000, kFloat, 2, {bufferOf(left, 1), bufferOf(shorter, 1)}));
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->samples.size(), 500u);
}

TEST(SystemAudioSource, ConvertsInterleavedAndMonoBuffers)
{
    // Two channels interleaved in 7 floats: three frames, the seventh float dropped.
    const std::vector<float> interleaved{0.1f, 0.3f, 0.5f, 0.7f, -1.0f, 1.0f, 0.9f};
    auto frame = SystemAudioSource::audioFrame(sampleBuffer(44100, kFloat, 2, {bufferOf(interleaved, 2)}));
    ASSERT_TRUE(frame.has_value());
    ASSERT_EQ(frame->samples.size(), 3u);
    EXPECT_FLOAT_EQ(frame->samples[0], 0.2f);
    EXPECT_FLOAT_EQ(frame->samples[1], 0.6f);
    EXPECT_FLOAT_EQ(frame->samples[2], 0.0f);

    const std::vector<float> mono{0.1f, -0.2f, 0.3f};
    frame = SystemAudioSource::audioFrame(sampleBuffer(16000, kFloat, 1, {bufferOf(mono, 1)}));
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->samples, mono);
    EXPECT_EQ(frame->sampleRate, 16000.0);

    // Zero channels with float samples reads as mono.
    frame = SystemAudioSource::audioFrame(sampleBuffer(16000, kFloat, 0, {bufferOf(mono, 1)}));
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->samples, mono);

    // Fewer floats than channels: nothing.
    const std::vector<float> one{0.5f};
    EXPECT_FALSE(SystemAudioSource::audioFrame(sampleBuffer(16000, kFloat, 2, {bufferOf(one, 2)})).has_value());
}

TEST(SystemAudioSource, DropsBuffersItCannotRead)
{
    const std::vector<float> mono{0.1f, 0.2f};
    EXPECT_FALSE(SystemAudioSource::audioFrame(sampleBuffer(48000, 0, 1, {bufferOf(mono, 1)})).has_value());
    SystemAudioSampleBuffer noDescription;
    noDescription.buffers = {bufferOf(mono, 1)};
    EXPECT_FALSE(SystemAudioSource::audioFrame(noDescription).has_value());
    auto failedList = sampleBuffer(48000, kFloat, 1, {bufferOf(mono, 1)});
    failedList.bufferListStatus = -1;
    EXPECT_FALSE(SystemAudioSource::audioFrame(failedList).has_value());
    EXPECT_FALSE(SystemAudioSource::audioFrame(sampleBuffer(48000, kFloat, 1, {})).has_value());
    EXPECT_FALSE(SystemAudioSource::audioFrame(sampleBuffer(48000, kFloat, 1, {{1, 8, nullptr}})).has_value());
    EXPECT_FALSE(SystemAudioSource::audioFrame(sampleBuffer(48000, kFloat, 1, {{1, 3, mono.data()}})).has_value());
}

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
