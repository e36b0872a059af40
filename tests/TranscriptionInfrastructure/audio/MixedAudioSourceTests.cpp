#include "TranscriptionInfrastructure/audio/MixedAudioSource.h"

#include "TranscriptionApplication/PortFailure.h"
#include "TranscriptionInfrastructure/audio/MicrophoneAudioSource.h"
#include "TranscriptionInfrastructure/audio/SystemAudioSource.h"
#include "support/AudioSignals.h"
#include "support/FakeAudioSource.h"
#include "support/FrameCollector.h"
#include "support/Locked.h"
#include "support/PulseAudioServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <span>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace tc::test {
namespace {

enum class Member { working, failing, serverAway };

std::shared_ptr<FakeAudioSource> member(Member kind, const std::string& message)
{
    auto source = std::make_shared<FakeAudioSource>();
    if (kind == Member::failing) source->failStarts(std::make_exception_ptr(std::runtime_error(message)));
    if (kind == Member::serverAway)
        source->failStarts(std::make_exception_ptr(PortFailure(message, PortFailure::Recovery::waitForReturn)));
    return source;
}

constexpr auto mic = AudioSourceID::microphone;
constexpr auto sys = AudioSourceID::systemAudio;

std::pair<std::shared_ptr<FakeAudioSource>, std::shared_ptr<FakeAudioSource>> pair()
{
    return {std::make_shared<FakeAudioSource>(), std::make_shared<FakeAudioSource>()};
}

TEST(MixedAudioSource, SkipsMembersThatCannotStartWithANoticeEachButLeavesAGoneServerToTheSession)
{
    const std::string prefix(MixedAudioSource::degradedPrefix);
    const struct {
        const char* name;
        std::vector<Member> members;
        std::vector<std::string> notices;
        bool throws;
        std::size_t started;
    } cases[] = {
        {"one fails", {Member::failing, Member::working}, {prefix + "1つ目"}, false, 1},
        {"both fail", {Member::failing, Member::failing}, {prefix + "1つ目", prefix + "2つ目"}, false, 0},
        {"no members", {}, {}, false, 0},
        {"server gone for both", {Member::serverAway, Member::serverAway}, {}, true, 0},
        {"server gone for one", {Member::working, Member::serverAway}, {prefix + "2つ目"}, false, 1},
        {"gone and failing", {Member::serverAway, Member::failing}, {prefix + "1つ目", prefix + "2つ目"}, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<MixedAudioSource::Labeled> members;
        for (std::size_t i = 0; i < c.members.size(); ++i)
            members.push_back({i == 0 ? mic : sys, member(c.members[i], std::to_string(i + 1) + "つ目")});
        std::vector<std::string> notices;
        MixedAudioSource mixed(members, [&](const std::string& notice) { notices.push_back(notice); }, {});
        if (c.throws) {
            EXPECT_THROW(mixed.start(), PortFailure);
        } else {
            auto stream = mixed.start();
            EXPECT_EQ(mixed.startedSourceCount(), c.started);
            EXPECT_TRUE(c.started > 0 || drain(stream).empty()) << "with nothing started the stream ends at once";
        }
        EXPECT_EQ(notices, c.notices);
        mixed.stop();
    }

    const auto live = std::make_shared<FakeAudioSource>(true), file = std::make_shared<FakeAudioSource>(false);
    EXPECT_FALSE(MixedAudioSource({}, {}, {}).isContinuous());
    EXPECT_FALSE(MixedAudioSource({{mic, file}}, {}, {}).isContinuous());
    EXPECT_TRUE(MixedAudioSource({{mic, file}, {sys, live}}, {}, {}).isContinuous());
}

TEST(MixedAudioSource, ASingleMembersFramesPassThroughUnchangedAcrossStartsUntilItBreaksOff)
{
    auto a = std::make_shared<FakeAudioSource>();
    MixedAudioSource mixed({{mic, a}}, {}, {});
    // Frames already mixed stay readable after stop(), which is harmless twice.
    auto stream = mixed.start();
    const AudioFrame first{{0.1f, 0.2f}, 44100, 12.5};
    const AudioFrame second{{0.3f}, 16000, 0.0};
    a->deliver(first);
    a->deliver(second);
    mixed.stop();
    mixed.stop();
    EXPECT_EQ(drain(stream), (std::vector<AudioFrame>{first, second}));
    EXPECT_EQ(a->stops(), 2);
    EXPECT_EQ(mixed.startedSourceCount(), 0u);
    // With one member nobody can be told apart.
    EXPECT_EQ(mixed.speakerBetween(0, 1), std::nullopt);

    // Starting again without a stop adds the member again; the stop then stops it for each entry.
    auto ended = mixed.start();
    a->finish();
    EXPECT_FALSE(ended->next().has_value());
    auto again = mixed.start();
    EXPECT_EQ(mixed.startedSourceCount(), 2u);
    a->deliver({{0.25f}, 16000, 0});
    EXPECT_EQ(again->next()->samples, std::vector<float>{0.25f});
    const int stopsBefore = a->stops();
    mixed.stop();
    EXPECT_GE(a->stops() - stopsBefore, 2);
    EXPECT_FALSE(again->next().has_value());

    // The last member breaking off fails the merged stream with its error, after the frames it delivered.
    auto broken = mixed.start();
    a->deliver({{0.5f}, 16000, 0});
    a->breakOff(std::make_exception_ptr(PortFailure("切れました", PortFailure::Recovery::waitForReturn)));
    EXPECT_TRUE(broken->next().has_value());
    try {
        broken->next();
        ADD_FAILURE() << "the merged stream ended without the member's error";
    } catch (const PortFailure& failure) {
        EXPECT_EQ(failure.recovery(), PortFailure::Recovery::waitForReturn);
        EXPECT_STREQ(failure.what(), "切れました");
    }
    mixed.stop();
}

TEST(MixedAudioSource, EveryWayTheMergedStreamEndsStopsTheStartedMembers)
{
    for (const std::string way : {"members end", "consumer gives up", "stop"}) {
        SCOPED_TRACE(way);
        auto [a, b] = pair();
        MixedAudioSource mixed({{mic, a}, {sys, b}}, {}, {});
        auto stream = mixed.start();
        if (way == "members end") {
            a->finish();
            b->finish();
        } else if (way == "consumer gives up") {
            stream->cancel();
        }
        mixed.stop();
        drain(stream);
        EXPECT_FALSE(a->isStarted() || b->isStarted());
        EXPECT_GE(std::min(a->stops(), b->stops()), 1);
    }
}

TEST(MixedAudioSource, SumsLoudMembersWithinFullScaleAndMetersEachOnItsOwnFrames)
{
    Locked lock;
    std::map<AudioSourceID, float> firstLevel;
    auto [microphone, system] = pair();
    MixedAudioSource mixed({{mic, microphone}, {sys, system}}, {}, [&](AudioSourceID id, float level) {
        lock.change([&] { firstLevel.try_emplace(id, level); });
    });
    auto stream = mixed.start();
    microphone->deliver({std::vector<float>(4800, 0.9f), 48000, 0});
    system->deliver({std::vector<float>(4800, 0.5f), 48000, 0});
    system->deliver({std::vector<float>(4800, -0.3f), 48000, 0});
    microphone->finish();
    system->finish();
    const auto samples = joined(drain(stream));
    mixed.stop();
    ASSERT_EQ(samples.size(), 9600u);
    EXPECT_GT(samples[0], 0.95f);
    EXPECT_LE(samples[0], 1.0f);
    // Below the knee the sum is exact; a member that ended leaves the other running.
    EXPECT_FLOAT_EQ(samples[9000], -0.3f);
    // A member's first level is reported at once, at 0.3 of its RMS.
    const auto levels = lock.read(firstLevel);
    EXPECT_NEAR(levels.at(mic), 0.27f, 1e-4f);
    EXPECT_NEAR(levels.at(sys), 0.15f, 1e-4f);
}

TEST(MixedAudioSource, SumsMembersAtDifferentRatesIntoOneSignalAndTellsWhoCarriedEachSpan)
{
    auto [microphone, system] = pair();
    // A feeder descheduled on a busy machine must not count as a stalled member and shift the turns.
    MixOptions options;
    options.mixer.stallTimeout = std::chrono::seconds(30);
    options.mixer.maxBacklog = std::chrono::seconds(30);
    MixedAudioSource mixed({{mic, microphone}, {sys, system}}, {}, {}, options);
    auto stream = mixed.start();

    // A second of 440 Hz at 48 kHz from the microphone alone, a second of 1000 Hz at 16 kHz from system audio
    // alone, then a second of both, in 20 ms frames side by side as devices deliver them. With stalls out of
    // play the mix depends on what arrives, not when, so they go in as fast as they can.
    for (std::size_t i = 0; i < 150; ++i) {
        const auto voice = sine(440, 48000, 960, 0.4f, 1, false, i * 960);
        const auto other = sine(1000, 16000, 320, 0.4f, 1, false, i * 320);
        microphone->deliver({i < 50 || i >= 100 ? voice : std::vector<float>(960), 48000, 0});
        system->deliver({i >= 50 ? other : std::vector<float>(320), 16000, 0});
    }
    microphone->finish();
    system->finish();
    const auto frames = drain(stream);
    for (const auto& frame : frames)
        EXPECT_EQ(frame.sampleRate, 48000.0);
    const auto samples = joined(frames);
    // Both at full length, side by side: three seconds, not six.
    EXPECT_NEAR(static_cast<double>(samples.size()), 3 * 48000.0, 960.0);
    ASSERT_GT(samples.size(), 3 * 48000u - 4800);
    const std::vector<float> both(samples.begin() + 2 * 48000 + 4800, samples.begin() + 3 * 48000 - 4800);
    EXPECT_NEAR(amplitudeAt(both, 440, 48000), 0.4, 0.04);
    EXPECT_NEAR(amplitudeAt(both, 1000, 48000), 0.4, 0.04);
    EXPECT_LT(amplitudeAt(both, 700, 48000), 0.02);
    EXPECT_LE(*std::max_element(samples.begin(), samples.end()), 0.8f + 1e-3f);

    EXPECT_EQ(mixed.speakerBetween(0.1, 0.9), SpeakerLabel::self);
    EXPECT_EQ(mixed.speakerBetween(1.1, 1.9), SpeakerLabel::other);
    EXPECT_EQ(mixed.speakerBetween(2.1, 2.9), SpeakerLabel::overlap);
    // A span that reaches 0.2 s into the next turn still belongs to the first.
    EXPECT_EQ(mixed.speakerBetween(0.2, 1.2), SpeakerLabel::self);
    mixed.stop();
}

TEST(MixedAudioSource, AStalledMemberDoesNotHoldUpTheMix)
{
    auto [microphone, system] = pair();
    MixedAudioSource mixed({{mic, microphone}, {sys, system}}, {}, {});
    FrameCollector collector(mixed.start());

    // The microphone delivers nothing: once it counts as stalled, system audio comes out alone (a mix waiting for
    // it would never let anything out).
    system->deliver({sine(1000, 48000, 4800, 0.5f), 48000, 0});
    ASSERT_TRUE(collector.waitFor([](const auto& frames) { return !frames.empty(); }));
    EXPECT_EQ(collector.frames().front().samples, sine(1000, 48000, 4800, 0.5f));

    mixed.stop();
}

TEST(MixedAudioSource, MixesTheLiveMicrophoneAndSystemAudioIntoOneSignal)
{
    PulseAudioServer server;
    ASSERT_TRUE(server.isRunning()) << server.startError();
    std::vector<std::string> notices;
    MixedAudioSource mixed(
        {{mic, std::make_shared<MicrophoneAudioSource>()}, {sys, std::make_shared<SystemAudioSource>()}},
        [&](const std::string& notice) { notices.push_back(notice); }, {});
    FrameCollector collector(mixed.start());
    ASSERT_TRUE(notices.empty()) << notices.front();

    // Three seconds of 1000 Hz played into the output; once it sounds, one second of 440 Hz spoken into the
    // microphone in 20 ms blocks, at the pace a sound card would deliver them.
    const auto started = std::chrono::steady_clock::now();
    std::jthread player([&] { server.play(sine(1000, 48000, 48000 * 3, 0.3f, 2), 48000, 2); });
    ASSERT_TRUE(
        collector.waitFor([](const auto& frames) { return !frames.empty() && rms(frames.back().samples) > 0.1; }));
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
    // Somewhere both tones sound together, each at its full level.
    double both = 0;
    for (std::size_t start = 0; start + 9600 <= samples.size(); start += 2400) {
        const std::span<const float> window(samples.data() + start, 9600);
        both = std::max(both, std::min(amplitudeAt(window, 440, 48000), amplitudeAt(window, 1000, 48000)));
    }
    EXPECT_NEAR(both, 0.3, 0.05);
}

} // namespace
} // namespace tc::test
