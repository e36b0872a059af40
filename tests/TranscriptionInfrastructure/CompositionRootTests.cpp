#include "TranscriptionInfrastructure/CompositionRoot.h"

#include "TranscriptionInfrastructure/assistant/FoundationModelsConversationResponder.h"
#include "TranscriptionInfrastructure/assistant/LanguageModel.h"
#include "TranscriptionInfrastructure/audio/MixedAudioSource.h"

#include "support/ScriptedSpeechRecognitionEngine.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace tc
