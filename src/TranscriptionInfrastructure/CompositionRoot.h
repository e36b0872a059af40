#pragma once

#include "TranscriptionApplication/AudioSource.h"
#include "TranscriptionApplication/CalendarProvider.h"
#include "TranscriptionApplication/ConversationResponder.h"
#include "TranscriptionApplication/Transcriber.h"
#include "TranscriptionDomain/AudioSourceID.h"
#include "TranscriptionInfrastructure/EngineConfig.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace tc {

class LanguageModel;

// The one place that knows which adapter stands behind which port. Every call builds a new adapter, except
// the language model: one per root (and its copies), built at construction and loaded on the first question.
class CompositionRoot {
public:
    // Called from any thread.
    using DegradedCallback = std::function<void(const std::string& notice)>;
    using LevelCallback = std::function<void(AudioSourceID source, float level)>;

    // A null language model means the one the user chose, or the installed default.
    explicit CompositionRoot(EngineConfig config = {}, std::shared_ptr<LanguageModel> languageModel = {});

    const EngineConfig& config() const { return m_config; }

    // A whisper.cpp-backed transcriber for config().locale.
    std::shared_ptr<Transcriber> makeTranscriber() const;
    // The mixed live source: microphone first, then system audio, as enabled.
    std::shared_ptr<AudioSource> makeLiveAudioSource(bool microphone, bool systemAudio, DegradedCallback onDegraded,
                                                     LevelCallback onLevel) const;
    // Reads the file in frames of 1600 samples.
    std::shared_ptr<AudioSource> makeFileAudioSource(const std::filesystem::path& file) const;
    std::shared_ptr<CalendarProvider> makeCalendarProvider() const;
    // Answers with this root's language model.
    std::shared_ptr<ConversationResponder> makeConversationResponder() const;
    // The language model in this file; cheap, nothing is read until it is asked.
    static std::shared_ptr<LanguageModel> makeLanguageModel(const std::filesystem::path& file);
    const std::shared_ptr<LanguageModel>& languageModel() const { return m_languageModel; }

private:
    EngineConfig m_config;
    std::shared_ptr<LanguageModel> m_languageModel;
};

} // namespace tc
