#include "TranscriptionInfrastructure/CompositionRoot.h"

#include "TranscriptionInfrastructure/assistant/FoundationModelsConversationResponder.h"
#include "TranscriptionInfrastructure/assistant/LanguageModel.h"
#include "TranscriptionInfrastructure/audio/MixedAudioSource.h"
#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"
#include "TranscriptionInfrastructure/speech/WhisperSpeechRecognitionEngine.h"

#include "support/ScriptedSpeechRecognitionEngine.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <fstream>

namespace tc {
namespace {

std::vector<AudioSourceID> memberIDs(const std::shared_ptr<AudioSource>& source)
{
    std::vector<AudioSourceID> ids;
    if (const auto mixed = std::dynamic_pointer_cast<MixedAudioSource>(source)) {
        for (const auto& member : mixed->members())
            ids.push_back(member.id);
    }
    return ids;
}

TEST(CompositionRoot, CompositionRoot_LiveSourceListsTheMicrophoneFirst)
{
    const CompositionRoot root;
    EXPECT_EQ(memberIDs(root.makeLiveAudioSource(false, true, {}, {})),
              std::vector<AudioSourceID>{AudioSourceID::systemAudio});
    EXPECT_EQ(memberIDs(root.makeLiveAudioSource(true, true, {}, {})),
              (std::vector<AudioSourceID>{AudioSourceID::microphone, AudioSourceID::systemAudio}));
    EXPECT_EQ(memberIDs(root.makeLiveAudioSource(true, false, {}, {})),
              std::vector<AudioSourceID>{AudioSourceID::microphone});
    EXPECT_TRUE(memberIDs(root.makeLiveAudioSource(false, false, {}, {})).empty());
}

// A restart, a pause and resume or a source change each take a new transcriber; they must not load the
// speech model again.
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
        auto segments = transcriber->transcribe(frames);
        while (segments->next()) {
        }
    }
    EXPECT_EQ(engine->recognizers().size(), 3u);

    const CompositionRoot whisper;
    ASSERT_NE(whisper.speechEngine(), nullptr);
    EXPECT_EQ(CompositionRoot(whisper).speechEngine(), whisper.speechEngine());
}

TEST(CompositionRoot, CompositionRoot_OwnsOneLanguageModelThatItsRespondersShare)
{
    const CompositionRoot root;
    const CompositionRoot copy = root;
    auto first = std::dynamic_pointer_cast<FoundationModelsConversationResponder>(root.makeConversationResponder());
    auto second = std::dynamic_pointer_cast<FoundationModelsConversationResponder>(copy.makeConversationResponder());
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(first->model(), root.languageModel());
    EXPECT_EQ(second->model(), root.languageModel());

    // Another root has its own; one given to a root is the one its responders use.
    EXPECT_NE(CompositionRoot().languageModel(), root.languageModel());
    const auto chosen = CompositionRoot::makeLanguageModel("/nonexistent/model.gguf");
    EXPECT_EQ(chosen->fileName(), "model.gguf");
    EXPECT_EQ(chosen->availability(), LanguageModel::Availability::noModel);
    const CompositionRoot withChosen(EngineConfig{}, chosen);
    EXPECT_EQ(std::dynamic_pointer_cast<FoundationModelsConversationResponder>(withChosen.makeConversationResponder())
                  ->model(),
              chosen);
}

// The speech model chosen in the settings is switched to where a run starts; one that cannot be used leaves the
// model in use working.
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
    fs::create_symlink(real, models / "ggml-base.bin");
    fs::create_symlink(real, models / "ggml-base-copy.bin");
    const std::string entry = R"(", "bytes": )" + std::to_string(published->size) + R"(, "sha1": ")" + published->sha1;
    std::ofstream(dir.path() / "models.json")
        << R"({"speech": {"models": [{"name": "base", "file": "ggml-base.bin)" << entry
        << R"("}, {"name": "base-copy", "file": "ggml-base-copy.bin)" << entry << R"("}]}})";
    auto engine = std::make_shared<WhisperSpeechRecognitionEngine>(
        "base", std::make_shared<SpeechModelManager>(models, dir.path() / "models.json"));
    const CompositionRoot root(EngineConfig{}, engine);

    EXPECT_EQ(root.useSpeechModel(""), std::nullopt) << "the default is in use already";
    EXPECT_EQ(root.useSpeechModel("base-copy"), std::nullopt);
    EXPECT_EQ(engine->modelName(), "base-copy");

    const auto refused = root.useSpeechModel("small");
    ASSERT_TRUE(refused.has_value());
    EXPECT_NE(refused->find("「small」に切り替えられなかった"), std::string::npos) << *refused;
    EXPECT_NE(refused->find("「base-copy」で続けます"), std::string::npos) << *refused;
    EXPECT_EQ(engine->modelName(), "base-copy");
    EXPECT_NE(engine->makeRecognizer(RecognizerModule{"ja-JP", true}), nullptr);

    EXPECT_EQ(root.useSpeechModel(""), std::nullopt);
    EXPECT_EQ(engine->modelName(), "base");
    EXPECT_EQ(CompositionRoot(EngineConfig{}, std::make_shared<test::ScriptedSpeechRecognitionEngine>())
                  .useSpeechModel("small"),
              std::nullopt)
        << "an engine without models has nothing to switch";
}

TEST(CompositionRoot, CompositionRoot_ResponderFollowsALaterLanguageModelChoiceAndStillAnswersWithQuotes)
{
    test::TemporaryDirectory folder;
    const auto notModel = folder.path() / "notes.gguf";
    std::ofstream(notModel) << "not a model at all";
    const CompositionRoot root;
    const auto responder = root.makeConversationResponder();

    // A responder built before the choice answers with the chosen file from the next question on.
    root.chooseLanguageModel(notModel);
    EXPECT_EQ(root.languageModel()->fileName(), "notes.gguf");
    EXPECT_EQ(root.languageModel()->availability(), LanguageModel::Availability::notModelFile);
    const auto note = responder->availability().note();
    EXPECT_NE(note.find("notes.gguf は GGUF 形式のモデルではない"), std::string::npos) << note;
    const auto answer = responder->answer(
        "発売日はいつですか", ConversationExcerpt({FinalizedLine{Uuid::random(), "発売日は来月の十五日です。", 0}}));
    EXPECT_EQ(answer.sourceLineIDs.size(), 1U) << "the quotes keep answering";

    // Empty returns to the installed default.
    root.chooseLanguageModel({});
    EXPECT_EQ(root.languageModel()->fileName(), CompositionRoot::installedLanguageModelFile().filename().string());
}

} // namespace
} // namespace tc
