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
    // The third attempt began 0.2 s into the session: its line is placed there, not at the attempt's own zero.
    EXPECT_EQ(events[2].text, "一");
    EXPECT_NEAR(events[2].start.value_or(-1), 0.2, 1e-9);
    EXPECT_NEAR(events[2].end.value_or(-1), 1.2, 1e-9);
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
    // A guard against a hang, not a measure of speed.
    ASSERT_TRUE(sink->waitForEvents(1, 60s));
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
    ASSERT_TRUE(sink->waitForEvents(1, 60s));
    thread.request_stop();
    thread.join();
    EXPECT_EQ(script.starts(), 1);
}

TEST(RunTranscriptionSession, AGoneSourceIsWaitedForWithOneNoticeAndOneOnResumingWithoutSpendingTheBudget)
{
    constexpr auto wait = PortFailure::Recovery::waitForReturn;
    const std::string gone = "サウンドサーバーに接続できませんでした。";
    // Speech, then the server vanishes; twenty starts fail over 40 s; it comes back and speech goes on.
    std::vector<Attempt> attempts{Attempt{.segments = {finalSegment("前")}, .streamError = gone, .recovery = wait}};
    for (int i = 0; i < 20; ++i)
        attempts.push_back(Attempt{.startError = gone, .seconds = 2.0, .recovery = wait});
    attempts.push_back(Attempt{.segments = {finalSegment("後")}, .streamError = "e1"});
    attempts.push_back(Attempt{.streamError = "e2"});
    attempts.push_back(Attempt{.streamError = "e3"});
    attempts.push_back(Attempt{.streamError = "e4"});
    attempts.push_back(Attempt{.streamError = "e5"});
    Harness h(std::move(attempts));
    EXPECT_THROW(h.runner.run(), ScriptedError);

    const auto events = h.sink->events();
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events[0], OutputEvent::finalizedTranscript("前", 0, 1));
    EXPECT_EQ(events[1], OutputEvent::notice(RunTranscriptionSession::waitingNoticePrefix + gone + "）"));
    EXPECT_EQ(events[2], OutputEvent::notice(RunTranscriptionSession::resumedNotice));
    // Line times go on across the 40 s outage.
    EXPECT_EQ(events[3].text, "後");
    EXPECT_NEAR(events[3].start.value_or(-1), 40.1, 1e-9);
    // The wait spent nothing of the five: the five later errors still get four restarts.
    const std::vector<OutputEvent> tail(events.begin() + 4, events.end());
    ASSERT_EQ(tail.size(), 5u);
    EXPECT_EQ(tail[0], OutputEvent::notice("文字起こしが中断されました。再開します…（e1）"));
    EXPECT_EQ(tail[4], OutputEvent::failure("文字起こしを継続できないため停止しました: e5"));
    // The waiting retries back off like restarts and level off at 2 s.
    ASSERT_EQ(h.delays.size(), 21u + 4u);
    EXPECT_EQ(h.delays[0], 200ms);
    EXPECT_EQ(h.delays[1], 400ms);
    EXPECT_EQ(h.delays[20], 2000ms);
}

TEST(RunTranscriptionSession, AGoneSourceIsGivenUpAfterThreeMinutesOfWaiting)
{
    constexpr auto wait = PortFailure::Recovery::waitForReturn;
    std::vector<Attempt> attempts(100, Attempt{.startError = "サーバーなし", .seconds = 10.0, .recovery = wait});
    Harness h(std::move(attempts));
    EXPECT_THROW(h.runner.run(), PortFailure);
    const auto events = h.sink->events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0],
              OutputEvent::notice(RunTranscriptionSession::waitingNoticePrefix + std::string("サーバーなし）")));
    EXPECT_EQ(events[1], OutputEvent::failure("文字起こしを継続できないため停止しました: サーバーなし"));
    // 10 s per failed start: the wait ends at the first check past 180 s.
    EXPECT_EQ(h.script.starts(), 19);
    EXPECT_GE(h.script.now() - 1000.0, RunTranscriptionSession::maxOutageSeconds);
}

TEST(RunTranscriptionSession, AFailureNoRestartCanMendStopsAtOnce)
{
    constexpr auto none = PortFailure::Recovery::none;
    Harness h({Attempt{.streamError = "モデルがありません", .recovery = none}, Attempt{}, Attempt{}});
    EXPECT_THROW(h.runner.run(), PortFailure);
    EXPECT_EQ(h.sink->events(), std::vector<OutputEvent>{OutputEvent::failure(
                                    "文字起こしを継続できないため停止しました: モデルがありません")});
    EXPECT_EQ(h.script.starts(), 1);
    EXPECT_TRUE(h.delays.empty());
}
