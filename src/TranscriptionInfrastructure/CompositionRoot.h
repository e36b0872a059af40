#pragma once

#include "TranscriptionApplication/AudioSource.h"
#include "TranscriptionApplication/CalendarProvider.h"
#include "TranscriptionApplication/ConversationResponder.h"
#include "TranscriptionApplication/Transcriber.h"
#include "TranscriptionDomain/AudioSourceID.h"
#include "TranscriptionDomain/Expected.h"
#include "TranscriptionInfrastructure/audio/AudioDeviceChoice.h"
#include "TranscriptionInfrastructure/settings/EngineConfig.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tc {

class CalendarSources;
class ChosenLanguageModel;
class LanguageModel;
class SpeechRecognitionEngine;

// The one place that knows which adapter stands behind which port. Every call builds a new adapter, except
// the engines: one speech engine and one language model per root (and its copies), built at construction and
// each loading its model on first use, so restarts, pauses and source changes reuse the loaded speech model.
class CompositionRoot {
public:
    // Called from any thread.
    using DegradedCallback = std::function<void(const std::string& notice)>;
    using LevelCallback = std::function<void(AudioSourceID source, float level)>;

    // A null language model means the one the user chose, or the installed default; the speech engine is
    // whisper.cpp with the default installed model.
    explicit CompositionRoot(EngineConfig config = {}, std::shared_ptr<LanguageModel> languageModel = {});
    // Over whisper.cpp with the named installed speech model, the default one when empty.
    CompositionRoot(EngineConfig config, const std::string& speechModelName);
    // Over the given speech engine.
    CompositionRoot(EngineConfig config, std::shared_ptr<SpeechRecognitionEngine> speechEngine,
                    std::shared_ptr<LanguageModel> languageModel = {});

    const EngineConfig& config() const { return m_config; }
    const std::shared_ptr<SpeechRecognitionEngine>& speechEngine() const { return m_speechEngine; }

    // Called where a run starts: makes the whisper engine use the named speech model (empty: the default) when it
    // is not the one in use. Nothing when it is or the switch worked; otherwise the Japanese reason, with the model
    // in use kept. Other engines have no models to choose and ignore it. Any thread.
    Expected<void, std::string> useSpeechModel(const std::string& name) const;
    // Likewise for two passes: finals decoded with the named model, the volatile text with useSpeechModel's; empty
    // turns them off. Nothing when that worked; otherwise the Japanese reason, finals then staying with the other.
    Expected<void, std::string> useFinalSpeechModel(const std::string& name) const;
    // A transcriber for config().locale over the root's speech engine.
    std::shared_ptr<Transcriber> makeTranscriber() const;
    // The mixed live source: microphone first, then system audio, as enabled, on the chosen devices; a chosen
    // device that is missing is replaced by the default, told through onDegraded.
    std::shared_ptr<AudioSource> makeLiveAudioSource(bool microphone, bool systemAudio, DegradedCallback onDegraded,
                                                     LevelCallback onLevel,
                                                     const AudioDeviceChoice& devices = {}) const;
    // Reads the file in frames of 1600 samples.
    std::shared_ptr<AudioSource> makeFileAudioSource(const std::filesystem::path& file) const;
    // Over this user's calendar sources (CalendarSources::makeDefault()).
    std::shared_ptr<CalendarProvider> makeCalendarProvider() const;
    // Over the given sources, which the settings may share.
    std::shared_ptr<CalendarProvider> makeCalendarProvider(std::shared_ptr<CalendarSources> sources) const;
    // Answers with this root's language model.
    std::shared_ptr<ConversationResponder> makeConversationResponder() const;
    // The language model in this file; cheap, nothing is read until it is asked.
    static std::shared_ptr<LanguageModel> makeLanguageModel(const std::filesystem::path& file);
    const std::shared_ptr<LanguageModel>& languageModel() const { return m_languageModel; }
    // The catalogue's default language model file in the models folder; empty in builds without llama.cpp.
    static std::filesystem::path installedLanguageModelFile();
    // Answers the next questions with this file (empty: the installed default), without rebuilding the
    // responders; nothing when the root was given its own language model.
    void chooseLanguageModel(const std::filesystem::path& file) const;

private:
    EngineConfig m_config;
    std::shared_ptr<LanguageModel> m_languageModel;
    // The same object as m_languageModel when the root chose it itself; null when it was given one.
    std::shared_ptr<ChosenLanguageModel> m_chosenLanguageModel;
    std::shared_ptr<SpeechRecognitionEngine> m_speechEngine;
};

} // namespace tc
