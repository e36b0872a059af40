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

// The one place that knows which adapter stands behind which port. Every call builds a new adapter.
class CompositionRoot {
public:
    // Called from any thread.
    using DegradedCallback = std::function<void(const std::string& notice)>;
    using LevelCallback = std::function<void(AudioSourceID source, float level)>;

    explicit CompositionRoot(EngineConfig config = {});

    const EngineConfig& config() const { return m_config; }

    // A whisper.cpp-backed transcriber for config().locale.
    std::shared_ptr<Transcriber> makeTranscriber() const;
    // The mixed live source: microphone first, then system audio, as enabled.
    std::shared_ptr<AudioSource> makeLiveAudioSource(bool microphone, bool systemAudio, DegradedCallback onDegraded,
                                                     LevelCallback onLevel) const;
    // Reads the file in frames of 1600 samples.
    std::shared_ptr<AudioSource> makeFileAudioSource(const std::filesystem::path& file) const;
    std::shared_ptr<CalendarProvider> makeCalendarProvider() const;
    std::shared_ptr<ConversationResponder> makeConversationResponder() const;

private:
    EngineConfig m_config;
};

} // namespace tc
