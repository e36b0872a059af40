#include "TranscriptionInfrastructure/CompositionRoot.h"

#include "TranscriptionInfrastructure/assistant/LanguageModel.h"
#include "TranscriptionInfrastructure/audio/MicrophoneError.h"
#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"
#include "TranscriptionInfrastructure/speech/WhisperSpeechRecognitionEngine.h"

#include "support/AudioSignals.h"
#include "support/ExpectedMatchers.h"
#include "support/PulseAudioServer.h"
#include "support/RealSpeechModel.h"
#include "support/ScriptedSpeechRecognitionEngine.h"
#include "support/TemporaryDirectory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

namespace tc {
namespace {

// Told apart by what they do on a server with an output only: the microphone cannot start, system audio can.
TEST(CompositionRoot, CompositionRoot_LiveSourceHoldsTheEnabledSourcesMicrophoneFirst)
{
    test::PulseAudioServer server({.pipeSources = {}});
    ASSERT_TRUE(server.isRunning()) << server.startError();
    const CompositionRoot root;
    std::vector<std::string> notices;
    const auto live = [&](bool microphone, bool systemAudio) {
        return root.makeLiveAudioSource(microphone, systemAudio, [&](const auto& n) { notices.push_back(n); }, {});
    };
    EXPECT_FALSE(live(true, true)->start()->isEnded());
    EXPECT_EQ(notices.size(), 1u) << "the microphone could not start";
    EXPECT_THROW(live(true, false)->start(), MicrophoneError);
    EXPECT_FALSE(live(false, true)->start()->isEnded());
    EXPECT_TRUE(test::drain(live(false, false)->start()).empty());
    EXPECT_EQ(notices.size(), 1u);
    // With the server gone every member waits for it, and the first one's error is the one passed on.
    server.kill();
    EXPECT_THROW(live(true, true)->start(), MicrophoneError);
}

// A restart, a pause and resume or a source change each take a new transcriber, without loading the model again.
TEST(CompositionRoot, CompositionRoot_TranscribersReuseTheRootsSpeechEngine)
{
    auto engine = std::make_shared<test::ScriptedSpeechRecognitionEngine>();
    const CompositionRoot root(EngineConfig{}, engine);
    // The presentation model keeps a copy of the root for its runs.
    const CompositionRoot copy = root;
    for (const auto* built : {&root, &copy, &root}) {
        auto frames = Channel<AudioFrame>::make();
        frames->finish();
        const auto transcriber = built->makeTranscriber();
        for (auto segments = transcriber->transcribe(frames); segments->next();) {
        }
    }
    EXPECT_EQ(engine->recognizers().size(), 3u);
}

// A run starts by switching to the chosen speech model; one that cannot be used leaves the model in use working.
TEST(CompositionRoot, CompositionRoot_SwitchesToTheChosenSpeechModelOrKeepsTheOneInUse)
{
    namespace fs = std::filesystem;
    const auto published = SpeechModelManager().find("base");
    const fs::path real = SpeechModelManager::defaultModelsDirectory() / "ggml-base.bin";
    if (!published || !fs::exists(real)) GTEST_SKIP() << "the default speech model is not installed";
    // Two models in the catalogue, both the real base weights under their own names.
    test::TemporaryDirectory dir;
    const fs::path models = dir.path() / "models";
    fs::create_directories(models);
    // With this machine's timing records beside them: the switching is under test here, not the minutes of
    // first-load timing (WhisperSpeechRecognitionEngineTests has that).
    ASSERT_TRUE(test::linkRealSpeechModel(models, {"ggml-base.bin", "ggml-base-copy.bin"}));
    const std::string entry =
        R"(", "bytes": )" + std::to_string(published->bytes) + R"(, "sha1": ")" + published->digest;
    std::ofstream(dir.path() / "models.json")
        << R"({"speech": {"models": [{"name": "base", "file": "ggml-base.bin)" << entry
        << R"("}, {"name": "base-copy", "file": "ggml-base-copy.bin)" << entry << R"("}]}})";
    auto engine = std::make_shared<WhisperSpeechRecognitionEngine>(
        "base", std::make_shared<SpeechModelManager>(models, dir.path() / "models.json"));
    const CompositionRoot root(EngineConfig{}, engine);

    EXPECT_THAT(root.useSpeechModel(""), test::Succeeds()) << "the default is in use already";
    EXPECT_THAT(root.useSpeechModel("base-copy"), test::Succeeds());
    EXPECT_EQ(engine->modelName(), "base-copy");

    const auto used = root.useSpeechModel("small");
    ASSERT_FALSE(used.has_value());
    const auto& refused = used.error();
    EXPECT_NE(refused.find("「small」に切り替えられなかった"), std::string::npos) << refused;
    EXPECT_NE(refused.find("「base-copy」で続けます"), std::string::npos) << refused;
    EXPECT_EQ(engine->modelName(), "base-copy");
    EXPECT_NE(engine->makeRecognizer(RecognizerModule{"ja-JP", true}), nullptr);

    EXPECT_THAT(root.useSpeechModel(""), test::Succeeds());
    EXPECT_EQ(engine->modelName(), "base");
    EXPECT_THAT(CompositionRoot(EngineConfig{}, std::make_shared<test::ScriptedSpeechRecognitionEngine>())
                    .useSpeechModel("small"),
                test::Succeeds())
        << "an engine without models has nothing to switch";
}

TEST(CompositionRoot, CompositionRoot_RespondersShareTheRootsLanguageModelAndFollowALaterChoiceWithQuotes)
{
    test::TemporaryDirectory folder;
    const auto notModel = folder.path() / "notes.gguf";
    std::ofstream(notModel) << "not a model at all";
    const auto saysNotAModel = [](const std::shared_ptr<ConversationResponder>& responder) {
        return responder->availability().note().find("notes.gguf は GGUF 形式のモデルではない") != std::string::npos;
    };
    const CompositionRoot root;
    // The presentation model keeps a copy of the root; another root has its own model.
    const CompositionRoot copy = root;
    EXPECT_EQ(copy.languageModel(), root.languageModel());
    EXPECT_NE(CompositionRoot().languageModel(), root.languageModel());

    // A responder built before the choice answers with the chosen file from the next question on.
    const auto responder = copy.makeConversationResponder();
    root.chooseLanguageModel(notModel);
    EXPECT_TRUE(saysNotAModel(responder));
    const auto answer = responder->answer(
        "発売日はいつですか", ConversationExcerpt({FinalizedLine{Uuid::random(), "発売日は来月の十五日です。", 0}}));
    EXPECT_EQ(answer.sourceLineIDs.size(), 1U) << "the quotes keep answering";
    // Empty returns to the installed default.
    root.chooseLanguageModel({});
    EXPECT_EQ(root.languageModel()->fileName(), CompositionRoot::installedLanguageModelFile().filename().string());

    // A model given to a root is the one its responders use, whatever is chosen later.
    const CompositionRoot given(EngineConfig{}, CompositionRoot::makeLanguageModel(notModel));
    given.chooseLanguageModel({});
    EXPECT_TRUE(saysNotAModel(given.makeConversationResponder()));
}

} // namespace
} // namespace tc
