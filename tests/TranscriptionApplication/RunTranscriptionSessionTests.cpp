#include "TranscriptionApplication/RunTranscriptionSession.h"

#include "support/ScriptedAttempts.h"

#include <gtest/gtest.h>

#include <thread>

using namespace tc;
using namespace tc::test;
using namespace std::chrono_literals;

namespace {

const std::string kRestart = "文字起こしを再開します…";
const std::string kGiveUpQuick = "文字起こしを再開できないため停止しました。";

struct Harness {
    explicit Harness(std::vector<Attempt> attempts, bool continuous = true)
        : script(std::move(attempts), continuous),
          runner(
              script.source(), script.transcriber(), sink,
              [this](std::chrono::nanoseconds delay, std::stop_token) { delays.push_back(delay); },
              [this] { return script.now(); })
    {}

    AttemptScript script;
    std::shared_ptr<RecordingSink> sink = std::make_shared<RecordingSink>();
    std::vector<std::chrono::nanoseconds> delays;
    RunTranscriptionSession runner;
};

std::vector<std::chrono::nanoseconds> ns(std::initializer_list<std::int64_t> values)
{
    std::vector<std::chrono::nanoseconds> out;
    for (auto v : values)
        out.emplace_back(v);
    return out;
}

} // namespace

TEST(RunTranscriptionSession, FiniteSourceEmitsEverySegmentAndEndsQuietly)
{
    Harness h({Attempt{.segments = {volatileSegment(""), volatileSegment("こん"), finalSegment("こんにちは")}}}, false);
    h.runner.run();
    EXPECT_EQ(h.sink->events(),
              (std::vector<OutputEvent>{OutputEvent::volatileTranscript(""), OutputEvent::volatileTranscript("こん"),
                                        OutputEvent::finalizedTranscript("こんにちは", 0, 1)}));
    EXPECT_EQ(h.script.starts(), 1);
    EXPECT_EQ(h.script.stops(), 1);
}

TEST(RunTranscriptionSession, GivesUpAfterFiveQuickEmptyEnds)
{
    Harness h(std::vector<Attempt>(5, Attempt{.seconds = 1.0}));
    h.runner.run();
    EXPECT_EQ(h.sink->events(), (std::vector<OutputEvent>{OutputEvent::notice(kRestart), OutputEvent::notice(kRestart),
                                                          OutputEvent::notice(kRestart), OutputEvent::notice(kRestart),
                                                          OutputEvent::failure(kGiveUpQuick)}));
    EXPECT_EQ(h.delays, ns({200'000'000, 400'000'000, 800'000'000, 1'600'000'000}));
    EXPECT_EQ(h.script.stops(), 5);
}

TEST(RunTranscriptionSession, ASegmentOrALongAttemptResetsTheCount)
{
    Harness h({Attempt{}, Attempt{}, Attempt{.segments = {volatileSegment("")}}, Attempt{}, Attempt{.seconds = 1.01},
               Attempt{}, Attempt{}, Attempt{}, Attempt{}, Attempt{}});
    h.runner.run();
    EXPECT_EQ(h.delays, ns({200'000'000, 400'000'000, 200'000'000, 200'000'000, 200'000'000, 200'000'000, 400'000'000,
                            800'000'000, 1'600'000'000}));
    EXPECT_EQ(h.sink->events().back(), OutputEvent::failure(kGiveUpQuick));
}

TEST(RunTranscriptionSession, FiveErrorsOnAContinuousSourceThrowTheLast)
{
    Harness h({Attempt{.streamError = "音が途切れました"}, Attempt{.startError = "装置がありません"},
               Attempt{.segments = {finalSegment("一")}, .streamError = "e3", .seconds = 3600},
               Attempt{.streamError = "e4"}, Attempt{.streamError = "e5"}});
    EXPECT_THROW(h.runner.run(), ScriptedError);
    const auto events = h.sink->events();
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events[0], OutputEvent::notice("文字起こしが中断されました。再開します…（音が途切れました）"));
    EXPECT_EQ(events[1], OutputEvent::notice("文字起こしが中断されました。再開します…（装置がありません）"));
    EXPECT_EQ(events[2], OutputEvent::finalizedTranscript("一", 0, 1));
    EXPECT_EQ(events[5], OutputEvent::failure("文字起こしを継続できないため停止しました: e5"));
    // The hour-long attempt still counted: no reset between errors.
    EXPECT_EQ(h.delays, ns({200'000'000, 400'000'000, 800'000'000, 1'600'000'000}));
    EXPECT_EQ(h.script.stops(), 5);
}

TEST(RunTranscriptionSession, FiniteSourceFailuresAreReportedAndThrown)
{
    Harness startFails({Attempt{.startError = "ファイルを開けません"}}, false);
    EXPECT_THROW(startFails.runner.run(), ScriptedError);
    EXPECT_EQ(startFails.sink->events(),
              std::vector<OutputEvent>{OutputEvent::failure("文字起こしが中断されました: ファイルを開けません")});
    EXPECT_EQ(startFails.script.stops(), 1);

    Harness streamFails({Attempt{.segments = {finalSegment("a")}, .streamError = "認識失敗"}}, false);
    EXPECT_THROW(streamFails.runner.run(), ScriptedError);
    EXPECT_EQ(streamFails.sink->events().back(), OutputEvent::failure("文字起こしが中断されました: 認識失敗"));
    EXPECT_TRUE(streamFails.delays.empty());
}

TEST(RunTranscriptionSession, StopDuringARestartDelayEndsWithoutAnotherStart)
{
    AttemptScript script({Attempt{}, Attempt{}});
    auto sink = std::make_shared<RecordingSink>();
    RunTranscriptionSession* self = nullptr;
    RunTranscriptionSession runner(
        script.source(), script.transcriber(), sink, [&](std::chrono::nanoseconds, std::stop_token) { self->stop(); },
        [&] { return script.now(); });
    self = &runner;
    runner.run();
    EXPECT_EQ(script.starts(), 1);
    EXPECT_EQ(sink->events(), std::vector<OutputEvent>{OutputEvent::notice(kRestart)});

    runner.run();
    EXPECT_EQ(script.starts(), 1) << "a stopped runner never starts again";
}

TEST(RunTranscriptionSession, CancellationWhileReadingStopsTheSourceSilently)
{
    AttemptScript script({Attempt{.segments = {volatileSegment("途中")}, .hangAfterSegments = true}});
    auto sink = std::make_shared<RecordingSink>();
    RunTranscriptionSession runner(script.source(), script.transcriber(), sink);
    std::jthread thread([&](std::stop_token stop) { runner.run(stop); });
    while (sink->events().empty())
        std::this_thread::yield();
    thread.request_stop();
    thread.join();
    EXPECT_EQ(sink->events(), std::vector<OutputEvent>{OutputEvent::volatileTranscript("途中")});
    EXPECT_EQ(script.stops(), 1);
    EXPECT_EQ(script.transcriptsEnded(), 1);
}

TEST(RunTranscriptionSession, CancellationDuringARealDelayEndsTheRun)
{
    AttemptScript script({Attempt{}, Attempt{}});
    auto sink = std::make_shared<RecordingSink>();
    RunTranscriptionSession runner(script.source(), script.transcriber(), sink);
    std::jthread thread([&](std::stop_token stop) { runner.run(stop); });
    while (sink->events().empty())
        std::this_thread::yield();
    thread.request_stop();
    thread.join();
    EXPECT_EQ(script.starts(), 1);
}

TEST(RunTranscriptionSession, RestartDelayDoublesUpToTwoSeconds)
{
    EXPECT_EQ(RunTranscriptionSession::restartDelay(1), 200ms);
    EXPECT_EQ(RunTranscriptionSession::restartDelay(4), 1600ms);
    EXPECT_EQ(RunTranscriptionSession::restartDelay(5), 2000ms);
    EXPECT_EQ(RunTranscriptionSession::restartDelay(9), 2000ms);
}
