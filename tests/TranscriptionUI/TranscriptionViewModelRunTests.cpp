#include "support/ViewModelHarness.h"

#include "TranscriptionUI/presentation/MainThreadHop.h"
#include "TranscriptionUI/presentation/ViewModelSink.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tc::test {
namespace {

using Status = PermissionManager::Status;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class TranscriptionViewModelRunTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { qtApplication(); }

    // A model with the microphone opted in and everything granted, bootstrapped and running.
    std::unique_ptr<TranscriptionViewModel> runningModel()
    {
        h.settings->setValue("optInMic", true);
        h.permissions->grantAll();
        auto model = h.makeModel();
        EXPECT_TRUE(ViewModelHarness::await([&](auto done) { model->bootstrap(done); }));
        EXPECT_TRUE(model->runControl().isRunning());
        EXPECT_TRUE(h.waitForRecognition(0));
        return model;
    }

    bool waitFor(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 30000); }
    // Makes the change, then waits until the runs it stopped or replaced have ended and no restart is under way.
    static bool settlesAfter(TranscriptionViewModel& model, const std::function<void()>& change)
    {
        QSignalSpy settled(&model.runControl(), &RunControl::settled);
        change();
        return QTest::qWaitFor([&] { return !settled.isEmpty(); }, 30000);
    }

    ViewModelHarness h;
};

TEST_F(TranscriptionViewModelRunTest, Bootstrap_StartsOneRunMicrophoneFirstWhoseLevelsKeepTheLastSixtyPerSource)
{
    h.settings->setValue("optInSystemAudio", true);
    auto model = runningModel();
    auto& run = model->runControl();
    ASSERT_TRUE(waitFor([&] {
        return run.activeSources() == std::vector{AudioSourceID::microphone, AudioSourceID::systemAudio};
    }));
    for (auto source : run.activeSources())
        EXPECT_EQ(run.levelHistory().at(source), std::vector<float>(60, 0.0f));

    // Starting again while running builds nothing new.
    model->startTranscription();
    model->startTranscription();
    EXPECT_EQ(run.runGeneration(), 1);

    // The source's reports come from its own thread and reach the model on the main thread.
    auto pipeline = h.pipelines()[0];
    std::jthread([&] {
        pipeline.onDegraded("システム音声を開始できませんでした。");
        for (int i = 1; i <= 61; ++i)
            pipeline.onLevel(AudioSourceID::microphone, static_cast<float>(i));
    }).join();
    ASSERT_TRUE(waitFor([&] { return run.levels().size() == 1 && run.levels().at(AudioSourceID::microphone) == 61; }));
    const auto& history = run.levelHistory().at(AudioSourceID::microphone);
    ASSERT_EQ(history.size(), 60u);
    EXPECT_EQ(history.front(), 2.0f);
    EXPECT_EQ(model->noticeLog().notices(), std::vector<std::string>{"システム音声を開始できませんでした。"});

    // Reports still arriving from a paused run do not draw a waveform; sent after the run's end, so that its
    // clearing cannot hide one.
    ASSERT_TRUE(settlesAfter(*model, [&] { run.pause(); }));
    pipeline.onLevel(AudioSourceID::microphone, 0.7f);
    QCoreApplication::sendPostedEvents();
    EXPECT_TRUE(run.levels().empty());
}

TEST_F(TranscriptionViewModelRunTest, Events_BecomeLinesVolatileTextCaptionAndNoticesAndClosingMidStreamEnds)
{
    auto model = runningModel();
    auto transcriber = h.pipelines()[0].transcriber;
    transcriber->emitSegment("こんに", false);
    ASSERT_TRUE(waitFor([&] { return model->sessionTranscript().volatileText() == "こんに"; }));
    EXPECT_EQ(model->liveCaptionContent().texts(), std::vector<std::string>{"こんに"});

    transcriber->emitSegment("こんにちは", true);
    transcriber->emitSegment("こんにちは", true);
    ASSERT_TRUE(waitFor([&] { return model->sessionTranscript().lines().size() == 2; }));
    EXPECT_NE(model->sessionTranscript().lines()[0].id, model->sessionTranscript().lines()[1].id);
    EXPECT_TRUE(model->sessionTranscript().volatileText().empty());
    ASSERT_EQ(model->liveCaptionContent().lines.size(), 2u);

    // An empty final text still makes a line, but no caption line.
    model->handle(OutputEvent::finalizedTranscript(""));
    model->handle(OutputEvent::volatileTranscript("次"));
    EXPECT_EQ(model->sessionTranscript().lines().size(), 3u);
    ASSERT_EQ(model->liveCaptionContent().lines.size(), 2u);
    EXPECT_EQ(model->liveCaptionContent().lines[1].id, 2);
    EXPECT_TRUE(model->liveCaptionContent().lines[1].isVolatile);

    // Only a notice repeating the one before is dropped; failures are never merged.
    QSignalSpy changes(&model->noticeLog(), &NoticeLog::changed);
    for (const auto& event : {OutputEvent::notice("X"), OutputEvent::notice("X"), OutputEvent::notice("Y"),
                              OutputEvent::notice("X"), OutputEvent::failure("X"), OutputEvent::failure("X")})
        model->handle(event);
    EXPECT_EQ(model->noticeLog().notices(), (std::vector<std::string>{"X", "Y", "X", "エラー: X", "エラー: X"}));
    EXPECT_EQ(changes.count(), 5);
    model->noticeLog().clear();
    EXPECT_TRUE(model->noticeLog().notices().empty());

    // Closing while the run is still emitting does not hang.
    for (int i = 0; i < 2000; ++i)
        transcriber->emitSegment(i % 2 ? "流れる" : "流れ", i % 10 == 0);
    ASSERT_TRUE(waitFor([&] { return model->sessionTranscript().lines().size() > 3; }));
    model.reset();
}

TEST_F(TranscriptionViewModelRunTest, PauseThenQuickResume_KeepsTheNewRunAliveAndCountsLineTimesFromTheSessionStart)
{
    h.fixedClock = true;
    h.clock = 1000;
    auto model = runningModel();
    model->handle(OutputEvent::finalizedTranscript("前の行", 2.0, 3.5));

    h.clock = 1060;
    QSignalSpy settled(&model->runControl(), &RunControl::settled);
    model->runControl().pause();
    EXPECT_TRUE(model->runControl().isPaused());
    EXPECT_TRUE(model->runControl().activeSources().empty());
    EXPECT_TRUE(model->runControl().levelHistory().empty());

    model->runControl().resume();
    EXPECT_TRUE(model->runControl().isRunning());
    EXPECT_EQ(model->runControl().runGeneration(), 2);
    // The resumed run counts from its own start a minute in; its lines join the session there.
    model->handle(OutputEvent::finalizedTranscript("一分後の行", 2.0, 3.5));
    EXPECT_EQ(model->sessionTranscript().lines().back().start, 62.0);
    EXPECT_EQ(model->sessionTranscript().lines().back().end, 63.5);

    // The paused run ends late; the new one must survive it.
    ASSERT_TRUE(h.waitForRecognition(1));
    ASSERT_TRUE(waitFor([&] { return !settled.isEmpty() && !model->runControl().activeSources().empty(); }));
    EXPECT_TRUE(model->runControl().isRunning());
    EXPECT_EQ(model->runControl().activeSources(), std::vector<AudioSourceID>{AudioSourceID::microphone});
    h.pipelines()[1].transcriber->emitSegment("新しい行", true);
    EXPECT_TRUE(waitFor([&] { return model->sessionTranscript().lines().size() == 3; }));
}

TEST_F(TranscriptionViewModelRunTest, WithdrawnPermissions_EndTheRunAtOnceWithTheirNotice)
{
    auto model = runningModel();
    model->runControl().pause();

    h.permissions->setMicrophone(Status::denied);
    model->runControl().resume();
    ASSERT_TRUE(waitFor([&] { return !model->runControl().isRunning(); }));
    EXPECT_THAT(model->noticeLog().notices(), ElementsAre(HasSubstr("利用可能な音声ソースがありません")));
    EXPECT_TRUE(model->runControl().activeSources().empty());

    h.permissions->setMicrophone(Status::granted);
    h.permissions->setSpeech(Status::denied);
    model->startTranscription();
    ASSERT_TRUE(waitFor([&] { return !model->runControl().isRunning(); }));
    EXPECT_THAT(model->noticeLog().notices(), ElementsAre(HasSubstr("音声認識が許可されていないため")));
    EXPECT_EQ(h.pipelineCount(), 1u);
}

TEST_F(TranscriptionViewModelRunTest, OptInAssignment_PersistsAndReconcilesEvenWithAnEqualValue)
{
    h.permissions->grantAll();
    auto model = h.makeModel();
    ASSERT_TRUE(ViewModelHarness::await([&](auto done) { model->sourceAccess().refresh(done); }));
    EXPECT_FALSE(model->sourceAccess().canStart());
    QSignalSpy changes(&model->sourceAccess(), &SourceAccess::optInMicChanged);
    model->sourceAccess().setOptInMic(false);
    EXPECT_EQ(changes.count(), 0);
    EXPECT_TRUE(h.settings->contains("optInMic"));
    EXPECT_FALSE(model->runControl().isRunning());

    // Stored true behind the model's back: assigning the value it already holds still starts a run.
    h.settings->setValue("optInMic", true);
    auto second = h.makeModel();
    ASSERT_TRUE(ViewModelHarness::await([&](auto done) { second->sourceAccess().refresh(done); }));
    second->sourceAccess().setOptInMic(true);
    EXPECT_TRUE(second->runControl().isRunning());

    // A paused model is not started by a source change.
    second->runControl().pause();
    second->sourceAccess().setOptInSystemAudio(true);
    EXPECT_FALSE(second->runControl().isRunning());
    EXPECT_TRUE(h.settings->value("optInSystemAudio").toBool());
}

TEST_F(TranscriptionViewModelRunTest, SourceChangesDuringARun_LeaveOneRunOnTheRestAndTheDevicesChosenThenUnlessPaused)
{
    h.settings->setValue("optInSystemAudio", true);
    h.settings->setValue("devices/microphone", "alsa_input.usb-headset");
    auto model = runningModel();
    EXPECT_EQ(h.pipelines()[0].devices, (AudioDeviceChoice{"alsa_input.usb-headset", ""}));
    const auto runningSources = [&] {
        const auto pipelines = h.pipelines();
        return std::count_if(pipelines.begin(), pipelines.end(), [](const auto& p) { return p.source->isStarted(); });
    };

    // Devices chosen while running go to the next run. Of two quick changes, the run of the first restart never
    // settles if it keeps going; it may be stopped before it builds anything, so count what is going.
    h.settings->remove("devices/microphone");
    h.settings->setValue("devices/systemAudio", "alsa_output.hdmi");
    ASSERT_TRUE(settlesAfter(*model, [&] {
        model->sourceAccess().setOptInSystemAudio(true);
        model->sourceAccess().setOptInSystemAudio(false);
    }));
    EXPECT_EQ(model->runControl().runGeneration(), 3);
    ASSERT_TRUE(waitFor([&] { return model->runControl().activeSources().size() == 1 && runningSources() == 1; }));
    const auto restarted = h.pipelines().back();
    EXPECT_TRUE(restarted.microphone && !restarted.systemAudio);
    EXPECT_EQ(restarted.devices, (AudioDeviceChoice{"", "alsa_output.hdmi"}));

    // A pause pressed while a restart is under way wins.
    const auto built = h.pipelineCount();
    ASSERT_TRUE(settlesAfter(*model, [&] {
        model->sourceAccess().setOptInMic(true);
        model->runControl().pause();
    }));
    EXPECT_FALSE(model->runControl().isRunning());
    EXPECT_EQ(h.pipelineCount(), built);
    EXPECT_EQ(runningSources(), 0);

    // Turning the last source off ends the run and starts none.
    model->runControl().resume();
    ASSERT_TRUE(waitFor([&] { return model->runControl().activeSources().size() == 1; }));
    ASSERT_TRUE(settlesAfter(*model, [&] { model->sourceAccess().setOptInMic(false); }));
    EXPECT_FALSE(model->runControl().isRunning());
    EXPECT_EQ(model->runControl().runGeneration(), 4);
    EXPECT_TRUE(model->runControl().activeSources().empty());
}

TEST_F(TranscriptionViewModelRunTest, AccessStates_FollowPermissionsAndSurviveARestartOfTheModel)
{
    h.permissions->setSpeech(Status::granted);
    h.permissions->setMicrophone(Status::denied);
    h.settings->setValue("optInMic", true);
    h.permissions->setRequestOutcome(Status::denied, Status::granted, false);
    {
        auto model = h.makeModel();
        ASSERT_TRUE(ViewModelHarness::await([&](auto done) { model->sourceAccess().refresh(done); }));
        EXPECT_EQ(model->sourceAccess().accessState(AudioSourceID::systemAudio), SourceAccessState::undetermined());
        for (int i = 0; i < 2; ++i)
            ASSERT_TRUE(ViewModelHarness::await([&](auto done) { model->sourceAccess().requestSystemAudio(done); }));
        EXPECT_EQ(model->sourceAccess().accessState(AudioSourceID::systemAudio), SourceAccessState::denied());
        EXPECT_TRUE(model->sourceAccess().optInSystemAudio());
        EXPECT_THAT(model->noticeLog().notices(), ElementsAre(HasSubstr("出力装置"), HasSubstr("出力装置")));
        EXPECT_FALSE(model->runControl().isRunning());
    }
    auto restarted = h.makeModel();
    EXPECT_EQ(restarted->sourceAccess().micStatus(), Status::undetermined);
    ASSERT_TRUE(ViewModelHarness::await([&](auto done) { restarted->sourceAccess().refresh(done); }));
    EXPECT_EQ(restarted->sourceAccess().accessState(AudioSourceID::systemAudio), SourceAccessState::denied());

    h.permissions->setScreenRecording(true);
    ASSERT_TRUE(ViewModelHarness::await([&](auto done) { restarted->sourceAccess().refresh(done); }));
    EXPECT_EQ(restarted->sourceAccess().accessState(AudioSourceID::systemAudio), SourceAccessState::granted(true));
    EXPECT_TRUE(restarted->sourceAccess().canStart());
}

TEST_F(TranscriptionViewModelRunTest, RequestingTheMicrophone_OptsInStartsAndPostsTheSpeechNoticeOnce)
{
    h.permissions->setRequestOutcome(Status::granted, Status::granted, true);
    auto model = h.makeModel();
    ASSERT_TRUE(ViewModelHarness::await([&](auto done) { model->sourceAccess().requestMicrophone(done); }));
    EXPECT_EQ(h.permissions->speechRequests(), 1);
    EXPECT_TRUE(h.settings->value("optInMic").toBool());
    EXPECT_TRUE(model->runControl().isRunning());
    model->runControl().pause();

    ViewModelHarness refused;
    refused.permissions->setRequestOutcome(Status::granted, Status::denied, false);
    auto other = refused.makeModel();
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(ViewModelHarness::await([&](auto done) { other->sourceAccess().requestMicrophone(done); }));
    EXPECT_EQ(refused.permissions->speechRequests(), 1);
    EXPECT_EQ(other->sourceAccess().accessState(AudioSourceID::microphone), SourceAccessState::granted(true));
    EXPECT_FALSE(other->runControl().isRunning());
    EXPECT_THAT(other->noticeLog().notices(), ElementsAre(HasSubstr("音声認識が許可されていません")));
}

TEST_F(TranscriptionViewModelRunTest, Saving_SkipsAnEmptyRunWaitsOutQuickLinesAndWritesTheEndTimeOnQuitting)
{
    const TranscriptSession past{Uuid::random(), {FinalizedLine{Uuid::random(), "昨日", 100}}, 90, 110.0};
    h.writeHistory({past});
    // Long beside the pace of the lines below, so that a busy machine cannot leave a gap as long.
    h.timings.saveDelay = std::chrono::milliseconds(1000);
    auto model = runningModel();
    ASSERT_EQ(model->historyAutosave().pastSessions(), std::vector<TranscriptSession>{past});
    QSignalSpy saves(&model->historyAutosave(), &HistoryAutosave::saveFinished);

    // A run ending without lines saves only the past sessions.
    model->runControl().pause();
    ASSERT_TRUE(saves.wait(30000));
    EXPECT_EQ(h.historyJson()["sessions"].size(), 1u);

    // Lines coming for longer than the quiet time, each within it, cause one save after the last of them.
    model->runControl().resume();
    ASSERT_TRUE(h.waitForRecognition(1));
    auto transcriber = h.pipelines()[1].transcriber;
    QTimer pace;
    int emitted = 0;
    QObject::connect(&pace, &QTimer::timeout, [&] {
        transcriber->emitSegment("行" + std::to_string(emitted), true);
        if (++emitted == 6) pace.stop();
    });
    pace.start(h.timings.saveDelay / 4);
    saves.clear();
    ASSERT_TRUE(saves.wait(30000));
    auto saved = h.historyJson()["sessions"];
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[0]["lines"].size(), 6u) << "saved before the quiet time after the last line";
    EXPECT_EQ(saved[0].get<TranscriptSession>().id, model->sessionTranscript().sessionID());
    EXPECT_EQ(saved[0].get<TranscriptSession>().lines, model->sessionTranscript().lines());
    EXPECT_FALSE(saved[0].contains("endedAt"));
    EXPECT_EQ(saved[1].get<TranscriptSession>(), past);

    // Quitting writes a pending line at once, with the end time.
    transcriber->emitSegment("最後の行", true);
    ASSERT_TRUE(waitFor([&] { return model->sessionTranscript().lines().size() == 7; }));
    const Date quitAt = currentDate();
    model->shutdown();
    saved = h.historyJson()["sessions"];
    ASSERT_EQ(saved.size(), 2u);
    const auto current = saved[0].get<TranscriptSession>();
    EXPECT_EQ(current.lines.size(), 7u);
    ASSERT_TRUE(current.endedAt.has_value());
    EXPECT_GE(*current.endedAt, quitAt);
    model->runControl().resume();
    EXPECT_FALSE(model->runControl().isRunning()) << "nothing starts after quitting";
}

TEST_F(TranscriptionViewModelRunTest, StartUp_HoldsAPausePressedMeanwhileAndSavesWaitToKeepThePastSessions)
{
    const TranscriptSession past{Uuid::random(), {FinalizedLine{Uuid::random(), "昨日", 100}}, 90, 110.0};
    h.writeHistory({past});
    h.settings->setValue("optInMic", true);
    h.permissions->grantAll();
    // Short enough for the timers to fire in the order they were started (Qt runs such timers precisely).
    h.timings.saveDelay = std::chrono::milliseconds(10);
    auto model = h.makeModel();
    QSignalSpy saves(&model->historyAutosave(), &HistoryAutosave::saveFinished);
    // The line's quiet time runs out before the history is read: a timer as long, started after it, fires after.
    model->handle(OutputEvent::finalizedTranscript("読み込み前の行"));
    bool quietTimeOver = false;
    QTimer::singleShot(h.timings.saveDelay, [&] { quietTimeOver = true; });
    ASSERT_TRUE(waitFor([&] { return quietTimeOver; }));

    // The start-up's steps come back through the event loop, so the pause lands before its end.
    ASSERT_TRUE(ViewModelHarness::await([&](auto done) {
        model->bootstrap(done);
        model->runControl().pause();
    }));
    EXPECT_TRUE(model->runControl().isPaused());
    EXPECT_FALSE(model->runControl().isRunning());
    EXPECT_EQ(h.pipelineCount(), 0u);
    // Nothing was written before the history was read (the read would hold the current session twice), and the
    // first save keeps the past sessions behind the line.
    EXPECT_EQ(model->historyAutosave().pastSessions(), std::vector<TranscriptSession>{past});
    ASSERT_TRUE(waitFor([&] { return !saves.isEmpty(); }));
    const auto saved = h.historyJson()["sessions"];
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[0]["lines"][0]["text"], "読み込み前の行");
    EXPECT_EQ(saved[1].get<TranscriptSession>(), past);
}

TEST_F(TranscriptionViewModelRunTest, AFailedSave_IsReportedOnceInTheLog)
{
    std::ofstream(h.historyPath()) << "not a folder";
    h.store = std::make_shared<TranscriptHistoryStore>(h.historyPath() / "history.json");
    h.timings.saveDelay = std::chrono::milliseconds(50);
    auto model = h.makeModel();
    ASSERT_TRUE(ViewModelHarness::await([&](auto done) { model->bootstrap(done); }));
    QSignalSpy saves(&model->historyAutosave(), &HistoryAutosave::saveFinished);
    model->handle(OutputEvent::finalizedTranscript("一"));
    ASSERT_TRUE(saves.wait(30000));
    EXPECT_EQ(model->noticeLog().notices().size(), 1u);
    model->handle(OutputEvent::finalizedTranscript("二"));
    ASSERT_TRUE(saves.wait(30000));
    EXPECT_EQ(model->noticeLog().notices().size(), 1u);
    EXPECT_EQ(model->sessionTranscript().lines().size(), 2u);
}

TEST(ViewModelSinkTest, DeliversInOrderOnTheMainThreadAndGivesUpWhenStopped)
{
    qtApplication();
    QObject target;
    auto hop = std::make_shared<MainThreadHop>(&target);
    std::vector<std::string> seen;
    const auto mainThread = std::this_thread::get_id();
    bool onMain = true;
    std::stop_source stop;
    ViewModelSink sink(
        [&](const OutputEvent& event) {
            onMain = onMain && std::this_thread::get_id() == mainThread;
            seen.push_back(event.text);
        },
        hop, stop.get_token());

    std::atomic<bool> emitted{false};
    std::jthread runner([&] {
        for (const char* text : {"一", "二", "三"})
            sink.emit(OutputEvent::notice(text));
        emitted = true;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return emitted.load(); }, 30000));
    EXPECT_EQ(seen, (std::vector<std::string>{"一", "二", "三"}));
    EXPECT_TRUE(onMain);

    // The main thread is busy (not processing events): a stop request frees the waiting runner.
    std::jthread blocked([&] { sink.emit(OutputEvent::notice("四")); });
    stop.request_stop();
    blocked.join();

    // What is still queued runs now (the call the freed runner left behind); a closed hop queues nothing more.
    hop->close();
    sink.emit(OutputEvent::notice("五"));
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(seen.back(), "四");
}

} // namespace
} // namespace tc::test
