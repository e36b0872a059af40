#include "TranscriptionInfrastructure/audio/MixedAudioSource.h"

#include "TranscriptionApplication/PortFailure.h"
#include "TranscriptionInfrastructure/audio/MicrophoneAudioSource.h"
#include "TranscriptionInfrastructure/audio/SystemAudioSource.h"

#include "support/AudioSignals.h"
#include "support/FakeAudioSource.h"
#include "support/FrameCollector.h"
#include "support/PulseAudioServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using tc::AudioFrame;
using tc::AudioSourceID;
using tc::MixedAudioSource;
using tc::test::FakeAudioSource;
using tc::test::amplitudeAt;
using tc::test::drain;
using tc::test::joined;
using tc::test::sine;

namespace {

struct Recorded {
    std::mutex mutex;
    std::vector<std::string> notices;
    std::vector<std::pair<AudioSourceID, float>> levels;

    MixedAudioSource::DegradedCallback degraded()
    {
        return [this](const std::string& notice) {
            std::lock_guard lock(mutex);
            notices.push_back(notice);
        };
    }
    MixedAudioSource::LevelCallback level()
    {
        return [this](AudioSourceID id, float value) {
            std::lock_guard lock(mutex);
            levels.emplace_back(id, value);
        };
    }
};

// A member whose start() throws this message.
std::shared_ptr<FakeAudioSource> failingSource(const std::string& message)
{
    auto source = std::make_shared<FakeAudioSource>();
    source->failStarts(std::make_exception_ptr(std::runtime_error(message)));
    return source;
}

// A live member whose sound server is away: start() throws an error to wait out.
std::shared_ptr<FakeAudioSource> serverAwaySource()
{
    auto source = std::make_shared<FakeAudioSource>();
    source->failStarts(
        std::make_exception_ptr(tc::PortFailure("サーバーがありません", tc::PortFailure::Recovery::waitForReturn)));
    return source;
}

} // namespace

TEST(MixedAudioSource, SkipsAMemberThatFailsWithOneNoticeAndEndsAtOnceWhenNothingStarted)
{
    Recorded recorded;
    auto working = std::make_shared<FakeAudioSource>();
    MixedAudioSource mixed({{AudioSourceID::microphone, failingSource("マイクが見つかりません。")},
                            {AudioSourceID::systemAudio, working}},
                           recorded.degraded(), recorded.level());
    auto stream = mixed.start();
    ASSERT_EQ(recorded.notices.size(), 1u);
    EXPECT_EQ(recorded.notices[0], "音声ソースを開始できませんでした: マイクが見つかりません。");
    EXPECT_EQ(mixed.startedSourceCount(), 1u);

    // A single started member's frames pass through unchanged, rate and timestamp included.
    const AudioFrame first{{0.1f, 0.2f}, 44100, 12.5};
    const AudioFrame second{{0.3f}, 16000, 0.0};
    working->deliver(first);
    working->deliver(second);
    working->finish();
    EXPECT_EQ(drain(stream), (std::vector<AudioFrame>{first, second}));
    mixed.stop();
    EXPECT_EQ(mixed.startedSourceCount(), 0u);

    // Nothing started: a notice per member, and the stream ends at once.
    MixedAudioSource none({{AudioSourceID::microphone, failingSource("一つ目")},
                           {AudioSourceID::systemAudio, failingSource("二つ目")}},
                          recorded.degraded(), recorded.level());
    EXPECT_TRUE(drain(none.start()).empty());
    ASSERT_EQ(recorded.notices.size(), 3u);
    EXPECT_EQ(recorded.notices[1], "音声ソースを開始できませんでした: 一つ目");
    EXPECT_EQ(recorded.notices[2], "音声ソースを開始できませんでした: 二つ目");
    MixedAudioSource empty({}, recorded.degraded(), recorded.level());
    EXPECT_TRUE(drain(empty.start()).empty());
    EXPECT_EQ(recorded.notices.size(), 3u);
    empty.stop();

    // Continuous when any member is.
    EXPECT_FALSE(empty.isContinuous());
    EXPECT_TRUE(MixedAudioSource({{AudioSourceID::microphone, std::make_shared<FakeAudioSource>(false)},
                                  {AudioSourceID::systemAudio, working}},
                                 {}, {})
                    .isContinuous());
    EXPECT_FALSE(
        MixedAudioSource({{AudioSourceID::microphone, std::make_shared<FakeAudioSource>(false)}}, {}, {}).isContinuous());
}

TEST(MixedAudioSource, AGoneServerIsTheSessionsToWaitOutNotANoticePerMember)
{
    Recorded recorded;
    auto mic = serverAwaySource();
    auto system = serverAwaySource();
    MixedAudioSource allGone({{AudioSourceID::microphone, mic}, {AudioSourceID::systemAudio, system}},
                             recorded.degraded(), recorded.level());
    EXPECT_THROW(allGone.start(), tc::PortFailure);
    EXPECT_TRUE(recorded.notices.empty());
    allGone.stop();

    // One member there, one gone: the run goes on with a notice, as for any member that cannot start.
    auto there = std::make_shared<FakeAudioSource>();
    MixedAudioSource partly({{AudioSourceID::microphone, there}, {AudioSourceID::systemAudio, system}},
                            recorded.degraded(), recorded.level());
    auto stream = partly.start();
    ASSERT_EQ(recorded.notices.size(), 1u);
    EXPECT_EQ(recorded.notices[0], "音声ソースを開始できませんでした: サーバーがありません");

    // The last member breaking off fails the merged stream with its error, after the frames it delivered.
    there->deliver(AudioFrame{{0.5f}, 16000, 0});
    there->breakOff(std::make_exception_ptr(tc::PortFailure("切れました", tc::PortFailure::Recovery::waitForReturn)));
    EXPECT_TRUE(stream->next().has_value());
    try {
        stream->next();
        ADD_FAILURE() << "the merged stream ended without the member's error";
    } catch (const tc::PortFailure& failure) {
        EXPECT_EQ(failure.recovery(), tc::PortFailure::Recovery::waitForReturn);
        EXPECT_STREQ(failure.what(), "切れました");
    }
    partly.stop();
}

TEST(MixedAudioSource, StopsEveryStartedMemberWhenTheMergedStreamEnds)
{
    {
        // Ends after the last member ends.
        auto a = std::make_shared<FakeAudioSource>();
        auto b = std::make_shared<FakeAudioSource>();
        MixedAudioSource mixed({{AudioSourceID::microphone, a}, {AudioSourceID::systemAudio, b}}, {}, {});
        auto stream = mixed.start();
        a->finish();
        b->deliver({std::vector<float>(480, 0.1f), 48000, 0});
        auto frame = stream->next();
        ASSERT_TRUE(frame.has_value());
        EXPECT_FALSE(stream->isEnded());
        b->finish();
        drain(stream);
        mixed.stop();
        EXPECT_GE(a->stops(), 1);
        EXPECT_GE(b->stops(), 1);
    }
    {
        // The consumer giving up stops the members and ends their loops.
        auto a = std::make_shared<FakeAudioSource>();
        auto b = std::make_shared<FakeAudioSource>();
        MixedAudioSource mixed({{AudioSourceID::microphone, a}, {AudioSourceID::systemAudio, b}}, {}, {});
        auto stream = mixed.start();
        stream->cancel();
        mixed.stop();
        EXPECT_FALSE(a->isStarted());
        EXPECT_FALSE(b->isStarted());
        EXPECT_GE(a->stops(), 1);
        EXPECT_GE(b->stops(), 1);
    }
    {
        // stop() ends the merged stream, and is harmless twice.
        auto a = std::make_shared<FakeAudioSource>();
        MixedAudioSource mixed({{AudioSourceID::microphone, a}}, {}, {});
        auto stream = mixed.start();
        a->deliver({{0.5f}, 16000, 0});
        mixed.stop();
        mixed.stop();
        EXPECT_EQ(drain(stream).size(), 1u);
        EXPECT_EQ(a->stops(), 2);
    }
}

TEST(MixedAudioSource, MeasuresEachMembersLevelOnItsOwnFrames)
{
    Recorded recorded;
    auto mic = std::make_shared<FakeAudioSource>();
    auto system = std::make_shared<FakeAudioSource>();
    MixedAudioSource mixed({{AudioSourceID::microphone, mic}, {AudioSourceID::systemAudio, system}},
                           recorded.degraded(), recorded.level());
    auto stream = mixed.start();
    mic->deliver({std::vector<float>(1000, 0.5f), 48000, 0});
    system->deliver({std::vector<float>(1000, 0.1f), 48000, 0});
    mic->finish();
    system->finish();
    drain(stream);
    mixed.stop();
    std::lock_guard lock(recorded.mutex);
    ASSERT_EQ(recorded.levels.size(), 2u);
    for (const auto& [id, level] : recorded.levels)
        EXPECT_NEAR(level, id == AudioSourceID::microphone ? 0.15f : 0.03f, 1e-6f);
}

TEST(MixedAudioSource, SumsTwoMembersIntoOneSignalOfFullDuration)
{
    auto mic = std::make_shared<FakeAudioSource>();
    auto system = std::make_shared<FakeAudioSource>();
    MixedAudioSource mixed({{AudioSourceID::microphone, mic}, {AudioSourceID::systemAudio, system}}, {}, {});
    auto stream = mixed.start();

    // One second each: 440 Hz at 48 kHz from the microphone, 1000 Hz at 16 kHz from system audio, in
    // frames of different lengths arriving alternately.
    std::jthread feeder([&] {
        for (std::size_t i = 0; i < 50; ++i) {
            mic->deliver({sine(440, 48000, 960, 0.4f, 1, false, i * 960), 48000, 0});
            system->deliver({sine(1000, 16000, 320, 0.4f, 1, false, i * 320), 16000, 0});
            std::this_thread::sleep_for(2ms);
        }
        mic->finish();
        system->finish();
    });
    const auto frames = drain(stream);
    mixed.stop();
    ASSERT_FALSE(frames.empty());
    for (const auto& frame : frames)
        EXPECT_EQ(frame.sampleRate, 48000.0);
    const auto mixedSamples = joined(frames);
    // Both at full length, side by side: one second, not two.
    EXPECT_NEAR(static_cast<double>(mixedSamples.size()), 48000.0, 480.0);
    const std::vector<float> middle(mixedSamples.begin() + 4800, mixedSamples.begin() + 43200);
    EXPECT_NEAR(amplitudeAt(middle, 440, 48000), 0.4, 0.04);
    EXPECT_NEAR(amplitudeAt(middle, 1000, 48000), 0.4, 0.04);
    EXPECT_LT(amplitudeAt(middle, 700, 48000), 0.02);
    double peak = 0;
    for (float s : mixedSamples)
        peak = std::max(peak, static_cast<double>(std::fabs(s)));
    EXPECT_LE(peak, 0.8 + 1e-3);
}

TEST(MixedAudioSource, TellsWhichMemberCarriedASpanOfTheMix)
{
    auto mic = std::make_shared<FakeAudioSource>();
    auto system = std::make_shared<FakeAudioSource>();
    // A feeder descheduled on a busy machine must not count as a stalled member and shift the turns.
    tc::MixOptions options;
    options.mixer.stallTimeout = std::chrono::seconds(30);
    options.mixer.maxBacklog = std::chrono::seconds(30);
    MixedAudioSource mixed({{AudioSourceID::microphone, mic}, {AudioSourceID::systemAudio, system}}, {}, {},
                           options);
    auto stream = mixed.start();

    // A second of the microphone alone, a second of system audio alone, then a second of both, in 20 ms frames.
    const std::vector<float> quiet(960, 0.0f);
    std::jthread feeder([&] {
        for (std::size_t i = 0; i < 150; ++i) {
            const auto voice = sine(300, 48000, 960, 0.3f, 1, false, i * 960);
            mic->deliver({i < 50 || i >= 100 ? voice : quiet, 48000, 0});
            system->deliver({i >= 50 ? voice : quiet, 48000, 0});
            // Side by side, as devices deliver, rather than one member far ahead of the other.
            std::this_thread::sleep_for(2ms);
        }
        mic->finish();
        system->finish();
    });
    EXPECT_NEAR(static_cast<double>(joined(drain(stream)).size()), 3 * 48000.0, 960.0);
    EXPECT_EQ(mixed.speakerBetween(0.1, 0.9), tc::SpeakerLabel::self);
    EXPECT_EQ(mixed.speakerBetween(1.1, 1.9), tc::SpeakerLabel::other);
    EXPECT_EQ(mixed.speakerBetween(2.1, 2.9), tc::SpeakerLabel::overlap);
    // A span that reaches 0.2 s into the next turn still belongs to the first.
    EXPECT_EQ(mixed.speakerBetween(0.2, 1.2), tc::SpeakerLabel::self);
    mixed.stop();

    // With one member nobody can be told apart: no label.
    auto alone = std::make_shared<FakeAudioSource>();
    MixedAudioSource single({{AudioSourceID::microphone, alone}}, {}, {});
    auto only = single.start();
    alone->deliver({sine(300, 48000, 48000, 0.3f), 48000, 0});
    alone->finish();
    drain(only);
    EXPECT_EQ(single.speakerBetween(0.1, 0.9), std::nullopt);
}

TEST(MixedAudioSource, LoudSumsStayWithinFullScale)
{
    auto a = std::make_shared<FakeAudioSource>();
    auto b = std::make_shared<FakeAudioSource>();
    MixedAudioSource mixed({{AudioSourceID::microphone, a}, {AudioSourceID::systemAudio, b}}, {}, {});
    auto stream = mixed.start();
    a->deliver({std::vector<float>(4800, 0.9f), 48000, 0});
    b->deliver({std::vector<float>(4800, 0.9f), 48000, 0});
    b->deliver({std::vector<float>(4800, -0.3f), 48000, 0});
    a->finish();
    b->finish();
    const auto samples = joined(drain(stream));
    mixed.stop();
    ASSERT_EQ(samples.size(), 9600u);
    EXPECT_GT(samples[0], 0.95f);
    EXPECT_LE(samples[0], 1.0f);
    // Below the knee the sum is exact.
    EXPECT_FLOAT_EQ(samples[9000], -0.3f);
}

TEST(MixedAudioSource, AStalledMemberDoesNotHoldUpTheMix)
{
    auto mic = std::make_shared<FakeAudioSource>();
    auto system = std::make_shared<FakeAudioSource>();
    MixedAudioSource mixed({{AudioSourceID::microphone, mic}, {AudioSourceID::systemAudio, system}}, {}, {});
    auto stream = mixed.start();

    // The microphone delivers nothing: system audio still comes out (a mix waiting for it would hang here).
    std::this_thread::sleep_for(150ms);
    system->deliver({sine(1000, 48000, 4800, 0.5f), 48000, 0});
    auto frame = stream->next();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->samples, sine(1000, 48000, 4800, 0.5f));

    // A member that ends leaves the other running.
    mic->finish();
    system->deliver({std::vector<float>(480, 0.25f), 48000, 0});
    frame = stream->next();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->samples, std::vector<float>(480, 0.25f));
    EXPECT_FALSE(stream->isEnded());
    system->finish();
    EXPECT_FALSE(stream->next().has_value());
    mixed.stop();
}

TEST(MixedAudioSource, MixesTheLiveMicrophoneAndSystemAudioIntoOneSignal)
{
    tc::test::PulseAudioServer server;
    ASSERT_TRUE(server.isRunning()) << server.startError();
    std::vector<std::string> notices;
    MixedAudioSource mixed({{AudioSourceID::microphone, std::make_shared<tc::MicrophoneAudioSource>()},
                            {AudioSourceID::systemAudio, std::make_shared<tc::SystemAudioSource>()}},
                           [&](const std::string& notice) { notices.push_back(notice); }, {});
    tc::test::FrameCollector collector(mixed.start());
    ASSERT_TRUE(notices.empty()) << notices.front();

    // Three seconds of 1000 Hz played into the output; once it sounds, one second of 440 Hz spoken into the
    // microphone in 20 ms blocks, at the pace a sound card would deliver them.
    const auto played = sine(1000, 48000, 48000 * 3, 0.3f, 2);
    const auto started = std::chrono::steady_clock::now();
    std::jthread player([&] { server.play(played, 48000, 2); });
    ASSERT_TRUE(collector.waitFor([](const std::vector<AudioFrame>& frames) {
        return std::any_of(frames.begin(), frames.end(), [](const AudioFrame& f) {
            return std::any_of(f.samples.begin(), f.samples.end(), [](float x) { return x > 0.2f; });
        });
    }));
    auto next = std::chrono::steady_clock::now();
    for (std::size_t block = 0; block < 50; ++block, next += 20ms) {
        std::this_thread::sleep_until(next);
        server.writeToSource("mic", sine(440, 48000, 960, 0.3f, 1, false, block * 960));
    }
    player.join();
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    mixed.stop();
    ASSERT_TRUE(collector.waitForEnd());

    const auto samples = joined(collector.frames());
    // One continuous signal, about as long as the time that passed, not the two sources end to end.
    EXPECT_LT(static_cast<double>(samples.size()), 48000.0 * (elapsed + 0.3));
    // Somewhere both tones sound together.
    double best440 = 0, with1000 = 0;
    for (std::size_t start = 0; start + 9600 <= samples.size(); start += 2400) {
        const std::vector<float> window(samples.begin() + static_cast<std::ptrdiff_t>(start),
                                        samples.begin() + static_cast<std::ptrdiff_t>(start + 9600));
        const double a440 = amplitudeAt(window, 440, 48000);
        if (a440 > best440) {
            best440 = a440;
            with1000 = amplitudeAt(window, 1000, 48000);
        }
    }
    EXPECT_NEAR(best440, 0.3, 0.05);
    EXPECT_NEAR(with1000, 0.3, 0.05);
}

TEST(MixedAudioSource, StartingAgainWithoutStopAddsTheMembersAgain)
{
    auto a = std::make_shared<FakeAudioSource>();
    MixedAudioSource mixed({{AudioSourceID::microphone, a}}, {}, {});
    auto first = mixed.start();
    a->finish();
    EXPECT_FALSE(first->next().has_value());
    auto second = mixed.start();
    EXPECT_EQ(mixed.startedSourceCount(), 2u);
    a->deliver({{0.25f}, 16000, 0});
    const auto frame = second->next();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->samples, std::vector<float>{0.25f});
    const int stopsBefore = a->stops();
    mixed.stop();
    // Once per entry, plus the stop that the end of the second stream brings.
    EXPECT_GE(a->stops() - stopsBefore, 2);
    EXPECT_FALSE(second->next().has_value());
}
