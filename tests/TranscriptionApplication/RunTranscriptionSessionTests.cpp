#include "TranscriptionApplication/RunTranscriptionSession.h"

#include "TranscriptionApplication/PortFailure.h"
#include "support/Locked.h"
#include "support/RecordingSink.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <stdexcept>
#include <thread>

using namespace tc;
using namespace tc::test;
using namespace std::chrono_literals;
using Delays = std::vector<std::chrono::nanoseconds>;

namespace {

// What one attempt of a session does: the source's start() may throw, the transcript stream delivers
// segments and then ends or fails, and the attempt takes some time on the shared manual clock.
struct Attempt {
    std::optional<std::string> startError;
    std::vector<TranscriptSegment> segments;
    std::optional<std::string> streamError;
    double seconds = 0.1;
    // When set, the stream stays open after its segments until the consumer gives up.
    bool hangAfterSegments = false;
    // When set, both errors are PortFailures with this advice instead of plain errors.
    std::optional<PortFailure::Recovery> recovery;
};

struct ScriptedError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::exception_ptr scriptedFailure(const std::string& message, const std::optional<PortFailure::Recovery>& recovery)
{
    return recovery ? std::make_exception_ptr(PortFailure(message, *recovery))
                    : std::make_exception_ptr(ScriptedError(message));
}

// A manual clock plus an audio source and transcriber that play a list of attempts. Thread-safe.
class AttemptScript : private AudioSource, private Transcriber {
public:
    explicit AttemptScript(std::vector<Attempt> attempts, bool continuous = true)
        : m_attempts(attempts.begin(), attempts.end()), m_continuous(continuous)
    {}

    // The script as the runner's source and transcriber; it outlives both.
    std::shared_ptr<AudioSource> source() { return {std::shared_ptr<void>(), static_cast<AudioSource*>(this)}; }
    std::shared_ptr<Transcriber> transcriber() { return {std::shared_ptr<void>(), static_cast<Transcriber*>(this)}; }
    double now() const { return m_lock.read(m_now); }
    int starts() const { return m_lock.read(m_starts); }
    int stops() const { return m_lock.read(m_stops); }
    // Transcript streams that ended (finished, failed or given up by the consumer).
    int transcriptsEnded() const { return m_lock.read(m_transcriptsEnded); }

private:
    AudioFrameStream start() override
    {
        return m_lock.change([&] {
            ++m_starts;
            if (m_attempts.empty()) throw ScriptedError("台本が尽きました");
            m_current = m_attempts.front();
            m_attempts.pop_front();
            m_now += m_current->seconds;
            if (m_current->startError)
                std::rethrow_exception(scriptedFailure(*m_current->startError, m_current->recovery));
            return m_frames = Channel<AudioFrame>::make();
        });
    }
    void stop() override
    {
        m_lock.change([&] {
            ++m_stops;
            if (m_frames) m_frames->finish();
        });
    }
    bool isContinuous() const override { return m_continuous; }
    SegmentStream transcribe(AudioFrameStream) override
    {
        auto segments = Channel<TranscriptSegment>::make();
        const Attempt attempt = m_lock.read(m_current).value_or(Attempt{});
        segments->onTermination([this] { m_lock.change([&] { ++m_transcriptsEnded; }); });
        for (auto& segment : attempt.segments)
            segments->yield(segment);
        if (attempt.streamError)
            segments->fail(scriptedFailure(*attempt.streamError, attempt.recovery));
        else if (!attempt.hangAfterSegments)
            segments->finish();
        return segments;
    }

    Locked m_lock;
    std::deque<Attempt> m_attempts;
    std::optional<Attempt> m_current;
    AudioFrameStream m_frames;
    bool m_continuous;
    double m_now = 1000;
    int m_starts = 0;
    int m_stops = 0;
    int m_transcriptsEnded = 0;
};

TranscriptSegment volatileSegment(std::string text)
{
    return {Uuid::random(), std::move(text), TranscriptSegment::Status::volatile_, 0, 1};
}

TranscriptSegment finalSegment(std::string text)
{
    return {Uuid::random(), std::move(text), TranscriptSegment::Status::finalized, 0, 1};
}

const auto kRestart = OutputEvent::notice("文字起こしを再開します…");
const auto kGiveUpQuick = OutputEvent::failure("文字起こしを再開できないため停止しました。");
constexpr auto kWait = PortFailure::Recovery::waitForReturn;

OutputEvent interrupted(const std::string& reason)
{
    return OutputEvent::notice("文字起こしが中断されました。再開します…（" + reason + "）");
}

OutputEvent stopped(const std::string& reason)
{
    return OutputEvent::failure("文字起こしを継続できないため停止しました: " + reason);
}

// A runner over a script, with its delays recorded instead of slept (and onDelay run in them) and the script's
// manual clock.
struct Harness {
    explicit Harness(std::vector<Attempt> attempts, bool continuous = true)
        : script(std::move(attempts), continuous), runner(
                                                       script.source(), script.transcriber(), sink,
                                                       [this](std::chrono::nanoseconds delay, std::stop_token) {
                                                           delays.push_back(delay);
                                                           if (onDelay) onDelay();
                                                       },
                                                       [this] { return script.now(); })
    {}

    AttemptScript script;
    std::shared_ptr<RecordingSink> sink = std::make_shared<RecordingSink>();
    Delays delays;
    std::function<void()> onDelay;
    RunTranscriptionSession runner;
};

} // namespace

TEST(RunTranscriptionSession, FiniteSourceEmitsEverySegmentAndReportsAFailureOnce)
{
    Harness ends({Attempt{.segments = {volatileSegment(""), volatileSegment("こん"), finalSegment("こんにちは")}}},
                 false);
    ends.runner.run();
    EXPECT_EQ(ends.sink->events(),
              (std::vector<OutputEvent>{OutputEvent::volatileTranscript(""), OutputEvent::volatileTranscript("こん"),
                                        OutputEvent::finalizedTranscript("こんにちは", 0, 1)}));
    EXPECT_EQ(ends.script.stops(), 1);

    Harness startFails({Attempt{.startError = "ファイルを開けません"}}, false);
    EXPECT_THROW(startFails.runner.run(), ScriptedError);
    EXPECT_EQ(startFails.sink->events(),
              std::vector<OutputEvent>{OutputEvent::failure("文字起こしが中断されました: ファイルを開けません")});
    EXPECT_EQ(startFails.script.stops(), 1);

    Harness streamFails({Attempt{.segments = {finalSegment("a")}, .streamError = "認識失敗"}}, false);
    EXPECT_THROW(streamFails.runner.run(), ScriptedError);
    EXPECT_EQ(streamFails.sink->events().back(), OutputEvent::failure("文字起こしが中断されました: 認識失敗"));
    EXPECT_TRUE(streamFails.delays.empty());

    // A library's own English is not shown; the log keeps it.
    Harness libraryFails({Attempt{.startError = "basic_string::_M_create"}}, false);
    EXPECT_THROW(libraryFails.runner.run(), ScriptedError);
    EXPECT_EQ(libraryFails.sink->events(),
              std::vector<OutputEvent>{OutputEvent::failure(
                  "文字起こしが中断されました: アプリの内部で予期しないエラーが起きました（詳細はログにあります）")});
}

TEST(RunTranscriptionSession, GivesUpAfterFiveQuickEmptyEnds)
{
    Harness h(std::vector<Attempt>(5, Attempt{.seconds = 1.0}));
    h.runner.run();
    EXPECT_EQ(h.sink->events(), (std::vector<OutputEvent>{kRestart, kRestart, kRestart, kRestart, kGiveUpQuick}));
    EXPECT_EQ(h.delays, (Delays{200ms, 400ms, 800ms, 1600ms}));
    EXPECT_EQ(h.script.stops(), 5);

    // A segment or an attempt longer than a second starts the count again.
    Harness reset({Attempt{}, Attempt{}, Attempt{.segments = {volatileSegment("")}}, Attempt{},
                   Attempt{.seconds = 1.01}, Attempt{}, Attempt{}, Attempt{}, Attempt{}, Attempt{}});
    reset.runner.run();
    EXPECT_EQ(reset.delays, (Delays{200ms, 400ms, 200ms, 200ms, 200ms, 200ms, 400ms, 800ms, 1600ms}));
    EXPECT_EQ(reset.sink->events().back(), kGiveUpQuick);
}

TEST(RunTranscriptionSession, ATranscriberNoticeIsShownOncePerSessionAndIsNoSignOfLife)
{
    const TranscriptSegment notice{Uuid::random(), "音の大きさだけで発話を区切ります。",
                                   TranscriptSegment::Status::notice, 0, 0};
    Harness h(std::vector<Attempt>(5, Attempt{.segments = {notice}, .seconds = 1.0}));
    h.runner.run();
    EXPECT_EQ(h.sink->events(), (std::vector<OutputEvent>{OutputEvent::notice(notice.text), kRestart, kRestart,
                                                          kRestart, kRestart, kGiveUpQuick}));
}

TEST(RunTranscriptionSession, FiveErrorsOnAContinuousSourceThrowTheLast)
{
    Harness h({Attempt{.streamError = "音が途切れました"}, Attempt{.startError = "装置がありません"},
               Attempt{.segments = {finalSegment("一")}, .streamError = "誤り3", .seconds = 3600},
               Attempt{.streamError = "誤り4"}, Attempt{.streamError = "誤り5"}});
    EXPECT_THROW(h.runner.run(), ScriptedError);
    const auto events = h.sink->events();
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events[0], interrupted("音が途切れました"));
    EXPECT_EQ(events[1], interrupted("装置がありません"));
    // The third attempt began 0.2 s into the session: its line is placed there, not at the attempt's own zero.
    EXPECT_EQ(events[2].text, "一");
    EXPECT_NEAR(events[2].start.value_or(-1), 0.2, 1e-9);
    EXPECT_NEAR(events[2].end.value_or(-1), 1.2, 1e-9);
    EXPECT_EQ(events[5], stopped("誤り5"));
    // The hour-long attempt still counted: no reset between errors.
    EXPECT_EQ(h.delays, (Delays{200ms, 400ms, 800ms, 1600ms}));
    EXPECT_EQ(h.script.stops(), 5);
}

TEST(RunTranscriptionSession, StopDuringARestartDelayEndsWithoutAnotherStart)
{
    Harness h({Attempt{}, Attempt{}});
    h.onDelay = [&] { h.runner.stop(); };
    h.runner.run();
    EXPECT_EQ(h.sink->events(), std::vector<OutputEvent>{kRestart});
    h.runner.run();
    EXPECT_EQ(h.script.starts(), 1) << "a stopped runner never starts again";
}

TEST(RunTranscriptionSession, CancellationWhileReadingOrInARealDelayStopsTheSourceSilently)
{
    const struct {
        const char* when;
        Attempt first;
        OutputEvent event;
    } cases[]{{"reading", Attempt{.segments = {volatileSegment("途中")}, .hangAfterSegments = true},
               OutputEvent::volatileTranscript("途中")},
              {"in a real restart delay", Attempt{}, kRestart}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.when);
        AttemptScript script({c.first, Attempt{}});
        auto sink = std::make_shared<RecordingSink>();
        RunTranscriptionSession runner(script.source(), script.transcriber(), sink);
        std::jthread thread([&](std::stop_token stop) { runner.run(stop); });
        // A guard against a hang, not a measure of speed.
        ASSERT_TRUE(sink->waitForEvents(1, 60s));
        thread.request_stop();
        thread.join();
        EXPECT_EQ(sink->events(), std::vector<OutputEvent>{c.event});
        EXPECT_EQ(script.starts(), 1);
        EXPECT_EQ(script.stops(), 1);
        EXPECT_EQ(script.transcriptsEnded(), 1);
    }
}

TEST(RunTranscriptionSession, AGoneSourceIsWaitedForWithOneNoticeAndOneOnResumingWithoutSpendingTheBudget)
{
    const std::string gone = "サウンドサーバーに接続できませんでした。";
    // Speech, then the server vanishes; twenty starts fail over 40 s; it comes back and speech goes on.
    std::vector<Attempt> attempts{Attempt{.segments = {finalSegment("前")}, .streamError = gone, .recovery = kWait}};
    attempts.insert(attempts.end(), 20, Attempt{.startError = gone, .seconds = 2.0, .recovery = kWait});
    attempts.push_back(Attempt{.segments = {finalSegment("後")}, .streamError = "誤り1"});
    for (const char* error : {"誤り2", "誤り3", "誤り4", "誤り5"})
        attempts.push_back(Attempt{.streamError = error});
    Harness h(std::move(attempts));
    EXPECT_THROW(h.runner.run(), ScriptedError);

    const auto events = h.sink->events();
    ASSERT_EQ(events.size(), 9u);
    EXPECT_EQ(events[0], OutputEvent::finalizedTranscript("前", 0, 1));
    EXPECT_EQ(events[1], OutputEvent::notice(RunTranscriptionSession::waitingNoticePrefix + gone + "）"));
    EXPECT_EQ(events[2], OutputEvent::notice(RunTranscriptionSession::resumedNotice));
    // Line times go on across the 40 s outage.
    EXPECT_EQ(events[3].text, "後");
    EXPECT_NEAR(events[3].start.value_or(-1), 40.1, 1e-9);
    // The wait spent nothing of the five: the five later errors still get four restarts.
    EXPECT_EQ(events[4], interrupted("誤り1"));
    EXPECT_EQ(events[8], stopped("誤り5"));
    // The waiting retries back off like restarts and level off at 2 s.
    ASSERT_EQ(h.delays.size(), 21u + 4u);
    EXPECT_EQ(h.delays[0], 200ms);
    EXPECT_EQ(h.delays[1], 400ms);
    EXPECT_EQ(h.delays[20], 2000ms);
}

TEST(RunTranscriptionSession, AGoneSourceIsGivenUpAfterThreeMinutesOfWaiting)
{
    Harness h(std::vector<Attempt>(100, Attempt{.startError = "サーバーなし", .seconds = 10.0, .recovery = kWait}));
    EXPECT_THROW(h.runner.run(), PortFailure);
    EXPECT_EQ(h.sink->events(),
              (std::vector<OutputEvent>{
                  OutputEvent::notice(RunTranscriptionSession::waitingNoticePrefix + std::string("サーバーなし）")),
                  stopped("サーバーなし")}));
    // 10 s per failed start: the wait ends at the first check past 180 s.
    EXPECT_EQ(h.script.starts(), 19);
    EXPECT_GE(h.script.now() - 1000.0, RunTranscriptionSession::maxOutageSeconds);
}

TEST(RunTranscriptionSession, AFailureNoRestartCanMendStopsAtOnce)
{
    Harness h({Attempt{.streamError = "モデルがありません", .recovery = PortFailure::Recovery::none}, Attempt{}});
    EXPECT_THROW(h.runner.run(), PortFailure);
    EXPECT_EQ(h.sink->events(), std::vector<OutputEvent>{stopped("モデルがありません")});
    EXPECT_EQ(h.script.starts(), 1);
    EXPECT_TRUE(h.delays.empty());
}
