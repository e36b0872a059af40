#pragma once

#include "TranscriptionInfrastructure/speech/VoiceActivityDetector.h"
#include "TranscriptionInfrastructure/speech/VoiceProbabilityModel.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace tc {

// A pause inside an utterance, too short to end it: between two sentences a fast talker runs together, or at a
// comma. In samples from the utterance's first.
struct InnerPause {
    std::size_t at = 0;
    std::size_t samples = 0;
    std::size_t middle() const { return at + samples / 2; }
};

// A stretch of speech cut out of the audio time line.
struct SegmentedUtterance {
    std::vector<float> samples;
    // Seconds on the time line: the first sample (pre-roll included) and just past the last.
    double start = 0;
    double end = 0;
    // Counts utterances from 1 in the order they began; the rest after a cut is a new one.
    std::size_t index = 0;
    // The pause the utterance ended with, at the end of its samples (none when cut at the maximum length or at the
    // end of the input).
    std::size_t pauseSamples = 0;
    // Its pauses of innerPauseSeconds or more, in order.
    std::vector<InnerPause> innerPauses;
};

// Cuts a mono stream into utterances by voice activity: an utterance starts at a burst of speech frames (with a
// little audio before it), ends after a pause, and is cut where it is quietest when it grows past the maximum
// length. With a voice model, a loud frame is speech only when the model also hears a voice, so a room's echo or a
// swell of noise does not join sentences. Measured: docs/recognition.md, "Eighth round". Not thread-safe: one owner.
class UtteranceSegmenter {
public:
    struct Settings {
        double sampleRate = 16000;
        double frameSeconds = 0.02;
        // Speech frames among the last onsetWindow frames that start an utterance.
        std::size_t onsetFrames = 3;
        std::size_t onsetWindow = 5;
        // Audio kept before the onset, so the first syllable is whole.
        double preRollSeconds = 0.3;
        // The pause that ends an utterance: longer than the pause at a comma, shorter than a change of speaker.
        double endPauseSeconds = 0.65;
        // Less speech than this (clicks, a cough) is no utterance; low enough for a short reply in noise ("了解。").
        // Measured: docs/recognition.md, "Twenty-third round".
        double minimumSpeechSeconds = 0.15;
        // An utterance with less speech than shortBurstSpeechSeconds waits shortBurstPauseSeconds for more before it
        // ends, so a reply before a comma ("はい、") joins its sentence; equal to endPauseSeconds, it ends like any
        // utterance. Measured: docs/recognition.md, "Third round".
        double shortBurstSpeechSeconds = 0.25;
        double shortBurstPauseSeconds = 1.2;
        // Speech rises and falls with its syllables; a stretch whose loud and quiet frames (90th and 10th
        // percentile) are closer than this is a steady noise that began, not speech. Measured: docs/recognition.md,
        // "Third round".
        double minimumSpreadDb = 9.0;
        // A voice glides in pitch from one frame to the next; an instrument holds each note's pitch exactly. A
        // stretch where more than this share of consecutive voiced frames keep the same pitch period is music or
        // a tone, not speech; 1 or more lets every stretch through. Measured: docs/recognition.md, "Fifteenth round".
        double maximumSteadyPitchShare = 0.6;
        // Judged over the frames within this many dB of the stretch's loud level (its 90th percentile) alone, as
        // music under a voice holds its notes between the syllables; 0 judges every frame. Measured:
        // docs/recognition.md, "Fifteenth round".
        double steadyPitchWithinDb = 6.0;
        double maximumUtteranceSeconds = 12.0;
        // A too-long utterance is cut at the quietest frame within this span before the maximum.
        double cutSearchSeconds = 2.0;
        // Pauses this long inside an utterance are reported with it (SegmentedUtterance::innerPauses).
        double innerPauseSeconds = 0.25;
        VoiceActivityDetector::Settings detector;
        // How likely the voice model must think a voice is to begin an utterance, and to go on with one.
        float voiceOnsetProbability = 0.5F;
        float voiceHoldProbability = 0.35F;
        // The model is sure of a voice a few windows after loudness is: the utterance still begins where loudness
        // alone would have begun it, up to this much earlier.
        double voiceLagSeconds = 0.2;
        // With a voice model, an utterance still ends at loudness's own pause, or after this long without a voice
        // the model hears, for a pause an echo or noise fills; 0 ends an utterance at endPauseSeconds without a
        // voice. Measured: docs/recognition.md, "Eighth round".
        double voiceEndPauseSeconds = 0.8;
        // Over a loud background (the utterance's loud level, the 90th percentile of its last 3 s, within
        // noisyFloorGapDb of the noise floor), backgroundPauseSeconds of frames relativePauseDb under that level end
        // the utterance too, as babble keeps loudness and the voice model busy through a pause; 0 dB leaves pauses
        // to them. Measured: docs/recognition.md, "Tenth round".
        double relativePauseDb = 8.0;
        double noisyFloorGapDb = 25.0;
        double backgroundPauseSeconds = 0.7;
    };

    UtteranceSegmenter() : UtteranceSegmenter(Settings{}) {}
    explicit UtteranceSegmenter(Settings settings, std::unique_ptr<VoiceProbabilityModel> voiceModel = nullptr);

    // Takes the next samples of the time line; returns the utterances they complete, oldest first.
    std::vector<SegmentedUtterance> append(std::span<const float> samples);
    // Ends the time line: the utterance in progress, when it holds enough speech, is complete too.
    std::vector<SegmentedUtterance> finish();

    // True while an utterance is in progress.
    bool inUtterance() const { return m_inUtterance; }
    // The audio of the utterance in progress (empty outside one) and where it starts on the time line.
    const std::vector<float>& currentSamples() const { return m_current; }
    double currentStart() const { return m_currentStart; }
    // The index the utterance in progress will carry; 0 before the first.
    std::size_t currentIndex() const { return m_index; }
    // Seconds of audio taken so far.
    double elapsed() const;
    // The samples at the end of the utterance in progress since the speaker was last heard (0 outside one).
    std::size_t currentPauseSamples() const;
    // True while the utterance in progress sounds like music or a tone so far (see maximumSteadyPitchShare).
    bool currentSoundsTonal() const { return m_inUtterance && soundsTonal(); }

private:
    void processFrame(std::span<const float> frame, std::vector<SegmentedUtterance>& completed);
    // Outside an utterance: keeps the pre-roll and begins one at a burst of speech frames.
    void awaitOnset(std::span<const float> frame, double frameStart, bool speech, bool loud);
    // Starts the utterance with the last preRollTaken samples of the pre-roll, ending at frameEnd seconds.
    void beginUtterance(std::size_t preRollTaken, double frameEnd, std::size_t speechFrames);
    // Inside one: counts the pauses, and closes it at its end pause or cuts it at the maximum length.
    void continueUtterance(std::span<const float> frame, bool speech, bool loud,
                           std::vector<SegmentedUtterance>& completed);
    // True once one of the pause rules ends the utterance in progress.
    bool endPauseReached() const;
    std::optional<SegmentedUtterance> closeCurrent(std::size_t keepSamples);
    // The longest of the pause counts: the frames since the speaker was last heard by any of the pause rules.
    std::size_t pauseFrames() const;
    std::optional<SegmentedUtterance> cutAtQuietest();
    static double levelSpreadDb(std::vector<double> levels);
    // True when the frame just taken is far under the utterance's loud level over a loud background.
    bool quietForTheBackground() const;
    // The pitch period in samples (80-400 Hz) of the frame ending at `end` in the current audio, judged over two
    // frames; 0 when the frame is not clearly voiced.
    int pitchPeriodAt(std::size_t end) const;
    // The share of consecutive voiced frames of the current utterance with the same pitch period.
    double steadyPitchShare() const;
    bool soundsTonal() const;
    // Feeds the voice model; true while it hears a voice (always without a model).
    bool voiceHeard(std::span<const float> frame);

    Settings m_settings;
    VoiceActivityDetector m_detector;
    std::unique_ptr<VoiceProbabilityModel> m_voiceModel;
    std::vector<float> m_voiceWindow;
    float m_voiceProbability = 0.0F;
    std::size_t m_frameSamples;
    std::vector<float> m_pending;
    std::size_t m_samplesTaken = 0;

    std::deque<float> m_preRoll;
    std::deque<bool> m_recentSpeech;
    std::deque<bool> m_recentLoud;
    std::size_t m_loudOnsetFrames = 0;
    std::size_t m_quietFrames = 0;
    std::size_t m_backgroundPauseFrames = 0;

    bool m_inUtterance = false;
    std::vector<float> m_current;
    std::vector<double> m_currentLevels;
    // One pitch period per frame of m_currentLevels.
    std::vector<int> m_currentPitch;
    double m_currentStart = 0;
    std::size_t m_speechFrames = 0;
    std::size_t m_pauseFrames = 0;
    std::vector<InnerPause> m_innerPauses;
    std::size_t m_index = 0;
    bool m_continuesCut = false;
};

} // namespace tc
