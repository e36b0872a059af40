#include "support/PulseAudioServer.h"
#include "support/SpeechSamples.h"
#include "support/TestPaths.h"
#include "support/ViewModelHarness.h"

#include "TranscriptionApplication/RunTranscriptionSession.h"
#include "TranscriptionInfrastructure/CompositionRoot.h"
#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"

#include <gtest/gtest.h>

namespace tc::test {
namespace {

// A sentence of the speech samples at 16 kHz followed by the pause that ends an utterance.
std::vector<float> utterance(const std::string& id)
{
    double rate = 0;
    auto samples = readSpeechFile(dataDir() / "speech/utterances" / (id + ".flac"), &rate);
    EXPECT_EQ(rate, 16000.0);
    const auto pause = silence(2.0);
    samples.insert(samples.end(), pause.begin(), pause.end());
    return samples;
}

// The real capture, counting its starts: each is one attempt of the session to capture again.
struct CountedStarts : AudioSource {
    AudioFrameStream start() override
    {
        ++*starts;
        return source->start();
    }
    void stop() override { source->stop(); }
    bool isContinuous() const override { return source->isContinuous(); }
    std::optional<SpeakerLabel> speakerBetween(double from, double to) const override
    {
        return source->speakerBetween(from, to);
    }

    std::shared_ptr<AudioSource> source;
    std::shared_ptr<std::atomic<int>> starts;
};

// The whole live path as in the window (real server, microphone source, whisper transcriber and runner); the server
// dies for longer than the five quick restarts used to last (about 3 s) and comes back.
TEST(TranscriptionViewModelRecoveryTest, ASoundServerGoneForSecondsIsWaitedForAndLinesGoOnAfterItsReturn)
{
    if (!std::filesystem::exists(SpeechModelManager::defaultModelsDirectory() / "ggml-base.bin"))
        GTEST_SKIP() << "the default speech model is missing";
    qtApplication();
    PulseAudioServer::Options options;
    options.pipeSources = {PulseAudioServer::PipeSource{"mic", 16000, 1}};
    PulseAudioServer server(options);
    ASSERT_TRUE(server.isRunning()) << server.startError();

    ViewModelHarness h;
    h.settings->setValue("optInMic", true);
    h.permissions->grantAll();
    auto deps = h.dependencies();
    const auto starts = std::make_shared<std::atomic<int>>(0);
    deps.makePipeline = [starts](bool microphone, bool systemAudio, const AudioDeviceChoice& devices,
                                 TranscriptionViewModel::DegradedCallback onDegraded,
                                 TranscriptionViewModel::LevelCallback onLevel) {
        const CompositionRoot root;
        auto counted = std::make_shared<CountedStarts>();
        counted->source =
            root.makeLiveAudioSource(microphone, systemAudio, std::move(onDegraded), std::move(onLevel), devices);
        counted->starts = starts;
        return TranscriptionViewModel::LivePipeline{counted, root.makeTranscriber()};
    };
    TranscriptionViewModel model(deps);
    const auto& notices = model.noticeLog().notices();
    ASSERT_TRUE(ViewModelHarness::await([&](auto done) { model.bootstrap(done); }));
    ASSERT_TRUE(model.runControl().isRunning());

    server.writeToSource("mic", utterance("s03"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.sessionTranscript().lines().empty(); }, 60000)) << "no line before";
    const std::size_t linesBefore = model.sessionTranscript().lines().size();
    EXPECT_TRUE(notices.empty());

    // The session tries again past the point where its quick restarts (one failure each) would have given up.
    const int startsBefore = starts->load();
    server.kill();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return starts->load() >= startsBefore + RunTranscriptionSession::maxConsecutiveFailures; }, 60000))
        << "the session gave up while the server was away";
    EXPECT_TRUE(model.runControl().isRunning());
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_TRUE(notices[0].starts_with(RunTranscriptionSession::waitingNoticePrefix)) << notices[0];
    EXPECT_NE(notices[0].find("サウンドサーバー"), std::string::npos) << notices[0];

    ASSERT_TRUE(server.restart()) << server.startError();
    ASSERT_TRUE(QTest::qWaitFor([&] { return notices.size() == 2; }, 10000)) << "capture did not resume";
    EXPECT_EQ(notices[1], RunTranscriptionSession::resumedNotice);

    server.writeToSource("mic", utterance("s04"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return model.sessionTranscript().lines().size() > linesBefore; }, 60000))
        << "no line after the server came back";
    EXPECT_TRUE(model.runControl().isRunning());
    EXPECT_EQ(notices.size(), 2u) << "one notice for the wait, one for the return, nothing else";
    model.runControl().pause();
}

} // namespace
} // namespace tc::test
