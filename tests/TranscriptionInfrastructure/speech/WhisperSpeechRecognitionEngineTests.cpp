#include "TranscriptionInfrastructure/speech/WhisperSpeechRecognitionEngine.h"

#include "TranscriptionInfrastructure/speech/RecognitionScoring.h"
#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"
#include "TranscriptionInfrastructure/speech/TranscriberError.h"
#include "support/RealSpeechModel.h"
#include "support/SpeechSamples.h"
#include "support/TemporaryDirectory.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace tc {
namespace {

// The final lines of a file as the app transcribes it; the engine keeps its model loaded from one file to the next.
std::vector<TranscriptSegment> finalLines(const std::shared_ptr<SpeechRecognitionEngine>& engine,
                                          const std::filesystem::path& file)
{
    auto lines = test::transcribedFile(engine, file);
    std::erase_if(lines, [](const TranscriptSegment& segment) { return !segment.isFinal(); });
    return lines;
}

// Four test sentences 1.2 s apart, run through sox's reverberation as a hard room would; empty when sox cannot run.
std::filesystem::path reverberantRecording(const std::filesystem::path& dir)
{
    std::vector<float> dry;
    for (const char* id : {"s05", "s12", "s20", "s31"}) {
        const auto speech = test::testSentence(id);
        dry.insert(dry.end(), speech.begin(), speech.end());
        const auto pause = test::silence(0.6);
        dry.insert(dry.end(), pause.begin(), pause.end());
    }
    std::ofstream(dir / "dry.f32", std::ios::binary)
        .write(reinterpret_cast<const char*>(dry.data()), static_cast<std::streamsize>(dry.size() * sizeof(float)));
    const std::string command = "sox -R -t f32 -r 16000 -c 1 '" + (dir / "dry.f32").string() + "' '" +
                                (dir / "wet.wav").string() + "' reverb 50 50 100";
    return std::system(command.c_str()) == 0 ? dir / "wet.wav" : std::filesystem::path();
}

TEST(WhisperSpeechRecognitionEngine, MissingModelAsksForTheInstallCommand)
{
    test::TemporaryDirectory empty;
    auto models = std::make_shared<SpeechModelManager>(empty.path(), SpeechModelManager::defaultCatalogueFile());
    WhisperSpeechRecognitionEngine engine("base", models);
    const RecognizerModule module{"ja-JP", true};
    auto request = engine.assetInstallationRequest(module);
    ASSERT_NE(request, nullptr);
    try {
        request->install({});
        FAIL() << "installing from the app cannot succeed";
    } catch (const TranscriberError& error) {
        EXPECT_EQ(error.kind(), TranscriberError::Kind::modelUnavailable);
        EXPECT_NE(std::string(error.what()).find("install-models --speech-model base"), std::string::npos);
    }
    EXPECT_THROW(engine.makeRecognizer(module), TranscriberError);
}

// The real default model, which scripts/setup installs. The sample file's accuracy, silence and noise are the
// program's and the recognizer's tests (HeadlessTranscription, WhisperStreamingRecognizer).
TEST(WhisperSpeechRecognitionEngine, EachTurnOfAConversationIsALineOfItsOwn)
{
    const auto engine = std::make_shared<WhisperSpeechRecognitionEngine>();
    const auto lines = finalLines(engine, test::dataDir() / "speech" / "conversation.flac");
    const auto turns = test::conversationTurns();
    ASSERT_EQ(turns.size(), 10U);
    for (const auto& turn : turns) {
        SCOPED_TRACE(turn.id + " " + turn.text);
        std::vector<std::string> heard;
        for (const auto& line : lines) {
            if (line.start < turn.end && line.end > turn.start) heard.push_back(line.text);
        }
        // Pauses at commas stay inside the line, and the next turn's start never joins it.
        ASSERT_EQ(heard.size(), 1U) << ::testing::PrintToString(heard);
        EXPECT_EQ(RecognitionScoring::repeatedPhrases(turn.text, heard[0]), 0U) << heard[0];
        EXPECT_TRUE(RecognitionScoring::inventedLatinWords(turn.text, heard[0]).empty()) << heard[0];
        // Numbers count as right in kanji or digits; half the line leaves room for the base model's misheard words
        // in a short reply ("そうちしました") while failing on a line that holds a piece of another turn.
        EXPECT_LT(RecognitionScoring::characterErrorRate(turn.text, heard[0]), 0.5) << heard[0];
    }
}

TEST(WhisperSpeechRecognitionEngine, TheFirstRunOnAProcessorSaysItTimesTheEngineFirst)
{
    const auto model = test::realSpeechModelFile();
    if (!model) return;
    test::TemporaryDirectory dir;
    std::filesystem::create_symlink(*model, dir.path() / model->filename());
    const auto notices = [&] {
        auto models = std::make_shared<SpeechModelManager>(dir.path(), SpeechModelManager::defaultCatalogueFile());
        const auto segments = test::transcribedFile(std::make_shared<WhisperSpeechRecognitionEngine>("base", models),
                                                    test::dataDir() / "speech" / "silence.flac");
        return std::count_if(segments.begin(), segments.end(), [](const TranscriptSegment& segment) {
            return segment.status == TranscriptSegment::Status::notice &&
                   segment.text.find("計算方法と、モデルの速さを測っています") != std::string::npos;
        });
    };
    // The first run's few seconds of timing are announced; the next run reads the choice and says nothing of it.
    EXPECT_EQ(notices(), 1);
    EXPECT_EQ(notices(), 0);
}

TEST(WhisperSpeechRecognitionEngine, EachSentenceInAReverberantRoomHasItsOwnLine)
{
    if (!SpeechModelManager().voiceModel()) GTEST_SKIP() << "the voice model is not installed (scripts/install-models)";
    test::TemporaryDirectory dir;
    const auto file = reverberantRecording(dir.path());
    ASSERT_FALSE(file.empty()) << "sox could not run";
    EXPECT_EQ(finalLines(std::make_shared<WhisperSpeechRecognitionEngine>(), file).size(), 4U);
    // Each sentence's echo filled the pause before the next one, and loudness alone heard it as speech.
    WhisperStreamingRecognizer::Settings loudnessOnly;
    loudnessOnly.useVoiceModel = false;
    EXPECT_LT(finalLines(std::make_shared<WhisperSpeechRecognitionEngine>(SpeechModelManager::defaultModelName(),
                                                                          nullptr, loudnessOnly),
                         file)
                  .size(),
              4U);
}

} // namespace
} // namespace tc
