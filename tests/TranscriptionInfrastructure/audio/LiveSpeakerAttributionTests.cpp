#include "TranscriptionInfrastructure/settings/AppPaths.h"
#include "TranscriptionInfrastructure/speech/SpeechAnalyzerTranscriber.h"

#include "support/EvaluationSet.h"
#include "support/PulseAudioServer.h"
#include "support/SpeechSamples.h"
#include "support/TestPaths.h"
#include "support/TwoSpeakerSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>

namespace tc::test {
namespace {

TEST(LiveSpeakerAttribution, LabelsWhoSpokeEachLiveLineOfARealTwoSourceRecording)
{
    const auto set = evalSetDir(sourceDir());
    if (set.empty() || !std::filesystem::exists(set / "twospeaker.tsv")) {
        // scripts/test renders the recording first, so there a missing one is a failure, not a quiet skip.
        if (const char* required = std::getenv("TC_REQUIRE_EVAL"); required && *required)
            FAIL() << "no two-speaker recording in '" << set.string()
                   << "': run scripts/make-eval-set --only twospeaker";
        GTEST_SKIP() << "the evaluation set is not rendered: run scripts/make-eval-set --only twospeaker";
    }
    if (!std::filesystem::exists(AppPaths::current().modelsDirectory() / "ggml-base.bin"))
        GTEST_SKIP() << "the default speech model is not installed";
    // The first ten turns of the two-speaker recording: a voice at the microphone and another from the output take
    // turns, three times talking over each other's end.
    auto turns = readSpeechTable(set / "twospeaker.tsv");
    ASSERT_GE(turns.size(), 10u);
    turns.resize(10);
    ASSERT_LT(turns.back().end, 30.0);
    double rate = 0;
    auto microphone = readSpeechFile(set / "twospeaker-mic.wav", &rate);
    auto system = readSpeechFile(set / "twospeaker-system.wav");
    const auto excerpt = static_cast<std::size_t>(30.0 * rate);
    ASSERT_GE(std::min(microphone.size(), system.size()), excerpt);
    microphone.resize(excerpt);
    system.resize(excerpt);

    PulseAudioServer server({.pipeSources = {}});
    ASSERT_TRUE(server.isRunning()) << server.startError();
    const auto lines = runTwoSpeakerSession(server, std::make_shared<SpeechAnalyzerTranscriber>("ja-JP"), microphone,
                                            system, static_cast<int>(rate), /*leadSeconds=*/3.0, turns.back().end);
    const auto score = scoreAttribution(turns, lines);
    std::cout << "turns covered " << score.turnsCovered << ", scored " << score.scored << ", correct " << score.correct
              << ", lines in step " << score.namedLinesInStep << " of " << score.namedLines << '\n';
    for (const auto& line : lines)
        std::cout << "  " << line.start << "–" << line.end << " s "
                  << (line.speaker ? speakerLabelText(*line.speaker) : "-") << ' ' << line.text << '\n';
    for (const auto& miss : score.misses)
        std::cout << "  wrong: " << miss << '\n';
    // Every turn lies under a line. How many lines they make depends on the load: the mix aligns the sources by
    // arrival, so a late capture moves the pauses between turns and can join turns into one line.
    EXPECT_EQ(score.turnsCovered, static_cast<int>(turns.size()));
    EXPECT_GE(score.correct, std::ceil(0.95 * score.scored)) << "fewer than 95 % attributed correctly";
    // Line times are on one session clock: lines sit where their turns were spoken and only move forward.
    EXPECT_GE(score.namedLines, 2);
    EXPECT_GE(score.namedLinesInStep, score.namedLines - 1);
    EXPECT_TRUE(
        std::is_sorted(lines.begin(), lines.end(), [](const auto& a, const auto& b) { return a.start < b.start; }));
    EXPECT_TRUE(std::all_of(lines.begin(), lines.end(), [](const auto& l) { return l.end > l.start; }));
}

} // namespace
} // namespace tc::test
