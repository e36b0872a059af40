#include "TranscriptionInfrastructure/CompositionRoot.h"

#include "TranscriptionInfrastructure/EventKitCalendarProvider.h"
#include "TranscriptionInfrastructure/FileAudioSource.h"
#include "TranscriptionInfrastructure/FoundationModelsConversationResponder.h"
#include "TranscriptionInfrastructure/LanguageModel.h"
#include "TranscriptionInfrastructure/MicrophoneAudioSource.h"
#include "TranscriptionInfrastructure/MixedAudioSource.h"
#include "TranscriptionInfrastructure/SpeechAnalyzerTranscriber.h"
#include "TranscriptionInfrastructure/SystemAudioSource.h"

#include <gtest/gtest.h>

namespace tc {
namespace {

std::vector<AudioSourceID> memberIDs(const std::shared_ptr<AudioSource>& source)
{
    auto mixed = std::dynamic_pointer_cast<MixedAudioSource>(source);
    EXPECT_NE(mixed, nullptr);
    std::vector<AudioSourceID> ids;
    if (!mixed) return ids;
    for (const auto& member : mixed->members()) {
        ids.push_back(member.id);
        if (member.id == AudioSourceID::microphone)
            EXPECT_NE(std::dynamic_pointer_cast<MicrophoneAudioSource>(member.source), nullptr);
        else
            EXPECT_NE(std::dynamic_pointer_cast<SystemAudioSource>(member.source), nullptr);
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

    // A new adapter on every call.
    EXPECT_NE(root.makeLiveAudioSource(true, false, {}, {}), root.makeLiveAudioSource(true, false, {}, {}));
}

TEST(CompositionRoot, CompositionRoot_BuildsTheConfiguredAdapters)
{
    EngineConfig config;
    config.locale = "ja-JP";
    const CompositionRoot root(config);

    auto transcriber = std::dynamic_pointer_cast<SpeechAnalyzerTranscriber>(root.makeTranscriber());
    ASSERT_NE(transcriber, nullptr);
    EXPECT_EQ(transcriber->locale(), "ja-JP");

    auto file = std::dynamic_pointer_cast<FileAudioSource>(root.makeFileAudioSource("/tmp/sample.flac"));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->frameSize(), 1600);
    EXPECT_EQ(file->file(), std::filesystem::path("/tmp/sample.flac"));
    EXPECT_FALSE(file->isContinuous());

    EXPECT_NE(std::dynamic_pointer_cast<EventKitCalendarProvider>(root.makeCalendarProvider()), nullptr);
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
