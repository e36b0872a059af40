#pragma once

#include "TranscriptionApplication/AudioSource.h"
#include "TranscriptionDomain/AudioSourceID.h"
#include "TranscriptionInfrastructure/audio/AudioMixer.h"
#include "TranscriptionInfrastructure/audio/LevelMeter.h"
#include "TranscriptionInfrastructure/audio/SourceEnergyHistory.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tc {

struct MixOptions {
    // The clock of the members' level meters.
    LevelMeter::Clock clock;
    // How two or more members are summed.
    AudioMixer::Options mixer;
};

// Makes several sources look like one. With one started member its frames pass through unchanged; with
// two or more they are resampled to one rate and summed into a single continuous signal, since the
// recognizer places frames one after another on a single time line. Each member's frames feed its own
// level meter before mixing. A member that fails to start is reported through onDegraded and skipped.
// Serialises its own state (one mutex inside); forwarding runs on threads of its own.
class MixedAudioSource : public AudioSource {
public:
    struct Labeled {
        AudioSourceID id;
        std::shared_ptr<AudioSource> source;
    };
    // One notice per member that failed to start; called on the thread calling start().
    using DegradedCallback = std::function<void(const std::string& notice)>;
    // A member's level in [0, 1], at most every 80 ms per member; called on that member's forwarding thread.
    using LevelCallback = std::function<void(AudioSourceID source, float level)>;

    static constexpr std::string_view degradedPrefix = "音声ソースを開始できませんでした: ";

    MixedAudioSource(std::vector<Labeled> sources, DegradedCallback onDegraded, LevelCallback onLevel,
                     MixOptions options = MixOptions());
    // Ends every forwarding of its own; started members are stopped.
    ~MixedAudioSource() override;

    // Starts the members in order and returns the merged stream. Throws only when no member started because
    // every one is gone for now (PortFailure::Recovery::waitForReturn: no sound server), without notices. The
    // stream fails with a member's error when every member has ended and one of them broke off. Its end, or the
    // consumer giving up, stops every member started here.
    AudioFrameStream start() override;
    // Stops every started member and finishes the merged streams (frames already mixed stay readable).
    void stop() override;
    // True when any member is continuous.
    bool isContinuous() const override;
    // With the microphone and system audio both started in the last start(): which of them was speaking over
    // that span of the merged stream, from each member's energy in the mix. Nothing otherwise.
    std::optional<SpeakerLabel> speakerBetween(double start, double end) const override;

    // How many members are started and not stopped since.
    std::size_t startedSourceCount() const;

private:
    class Run;

    const std::vector<Labeled> m_labeled;
    const DegradedCallback m_onDegraded;
    const LevelCallback m_onLevel;
    const MixOptions m_options;

    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<AudioSource>> m_startedSources;
    std::vector<std::shared_ptr<Run>> m_runs;
    // What each member of the last start() put into the mix, in the order of m_historyMembers; null unless two
    // or more members started.
    std::shared_ptr<const SourceEnergyHistory> m_history;
    std::vector<AudioSourceID> m_historyMembers;
};

} // namespace tc
