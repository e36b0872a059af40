#pragma once

#include "TranscriptionInfrastructure/speech/FinalSettler.h"
#include "TranscriptionInfrastructure/speech/RecognizerWork.h"
#include "TranscriptionInfrastructure/speech/RefreshSchedule.h"
#include "TranscriptionInfrastructure/speech/StreamingRecognizer.h"
#include "TranscriptionInfrastructure/speech/UtteranceDecoder.h"
#include "TranscriptionInfrastructure/speech/UtteranceSegmenter.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace tc {

class SentenceContinuation;

// Live recognition over an utterance decoder: voice activity cuts the input into utterances; the one in
// progress is re-decoded every refresh and reported as volatile, a finished one is decoded once more and
// reported final; a final whose text ends mid-sentence (a comma, a particle) waits, on show, for the next
// utterance to be decoded together with it. Finals come first: a refresh under way is abandoned as soon as a final
// is waiting, and refreshes are spaced by their measured cost, so a slow machine skips refreshes but never audio or
// finals; only a final's fallback tries wait for the first refresh of an utterance that has just begun. Non-speech
// (voice activity, the no-speech probability, known phrases) never becomes a result. Thread-safe: the segmenter and
// the queue are guarded by one mutex; one intake and one decoding thread.
class WhisperStreamingRecognizer final : public StreamingRecognizer {
public:
    // Each default's evidence: docs/recognition.md, "Why the live recogniser's settings are what they are".
    struct Settings {
        UtteranceSegmenter::Settings segmentation;
        double minimumRefreshSeconds = 0.5;
        // The first refresh of an utterance comes sooner, so text appears soon after the speaker starts.
        double firstRefreshSeconds = 0.3;
        // Until the utterance in progress has text on show, refreshes follow each other this closely, whatever
        // they cost; 0 spaces them as any other.
        double textlessRefreshSeconds = 0.3;
        double maximumRefreshSeconds = 3.0;
        // The refresh interval is at least this multiple of the last refresh's decoding time.
        double refreshCostFactor = 1.5;
        bool volatileResults = true;
        // Text whose no-speech probability reaches this and whose tokens are unsure is dropped...
        float noSpeechThreshold = 0.7F;
        double unsureLogProbability = -0.5;
        // ...and so is any text with a no-speech probability this high, unless its tokens average at least
        // confidentLogProbability (a short sentence reads high and would be lost whole).
        float certainNoSpeech = 0.85F;
        double confidentLogProbability = -0.45;
        // Text whose tokens' mean log probability is under this is the decoder guessing at sound it cannot place.
        double inventedLogProbability = -1.5;
        // A final's sampled try in Latin letters alone, no kana or kanji, is dropped: sampling made it up. Japanese
        // only: the engine turns it off for other languages.
        bool dropSampledLatinLines = true;
        // How much of the previous final text goes to the decoder as context; none by default.
        std::size_t promptCharacters = 0;
        // Text the decoder reads as preceding every utterance, before any previous line; none by default.
        std::string initialPrompt;
        // A final ending at a comma is held (shown as volatile) and decoded again with the next utterance when that
        // begins within this many seconds of the cut; 0 settles every final.
        double commaHoldSeconds = 1.0;
        // Also hold a final ending in a particle or the te-form (は が を に で と て も ば).
        bool holdAfterParticle = true;
        // And one ending in a noun (kanji, katakana, さん).
        bool holdAfterNoun = false;
        // And one whose last word the dictionary reads as going on (see SentenceContinuation).
        bool holdAfterContinuingWord = false;
        // And one that is only a name and a title ("小林さん"); a next sentence joined to it is divided again at its
        // full stop.
        bool holdAfterName = true;
        // A final whose text holds a sentence end where the utterance briefly paused is reported as two lines, each
        // with its own time.
        bool divideAtInnerPauses = true;
        // A final that wants the fallback tries lets an utterance begun meanwhile have its first refresh first.
        bool firstTextBeforeRetry = true;
        // A final's greedy try begins this far into a pause; when the pause then ends the utterance with no speech
        // since, that try is the final's. 0 decodes a final only once it is cut.
        double earlyFinalPauseSeconds = 0.3;
        // Handed to the decoder when the engine makes it.
        DecodingPolicy decoding;
        // The engine gives each recognizer the installed voice model (see UtteranceSegmenter); false leaves
        // loudness alone to cut utterances.
        bool useVoiceModel = true;
    };

    explicit WhisperStreamingRecognizer(std::shared_ptr<UtteranceDecoder> decoder);
    // With a voice model, only a voice the model hears begins or continues an utterance (see UtteranceSegmenter).
    // With a final decoder, two passes: decoder reads the volatile text and finalDecoder every final's tries.
    WhisperStreamingRecognizer(std::shared_ptr<UtteranceDecoder> decoder, Settings settings,
                               std::unique_ptr<VoiceProbabilityModel> voiceModel = nullptr,
                               std::shared_ptr<UtteranceDecoder> finalDecoder = nullptr);
    ~WhisperStreamingRecognizer() override;

    // 16 kHz mono float.
    std::optional<AnalyzerAudioFormat> bestAvailableAudioFormat() override;
    // Starts the intake and decoding threads; throws when already started.
    void start(Stream<AnalyzerBuffer> input) override;
    // Returns when every utterance of the finished input has its result, or on cancel().
    void finalizeAndFinishThroughEndOfInput() override;
    Stream<RecognitionResult> results() override { return m_results; }
    // Abandons the decoding under way through the decoder's abort check; results() ends.
    void cancel() override;

private:
    using Work = RecognizerWork;

    void intakeLoop(std::stop_token stop);
    void decodeLoop(std::stop_token stop);
    void queueCompleted(std::vector<SegmentedUtterance> completed);
    bool refreshDue() const;
    // True while the utterance in progress is waiting for its first refresh.
    bool firstRefreshPending() const;
    bool retryDue() const;
    // True when the utterance in progress has paused long enough for its final's first try.
    bool earlyFinalDue() const;
    // True when the early try covers all the speech of the utterance in progress.
    bool earlyTryStands() const;
    UtteranceDecoder::Pass firstTryPass() const;
    void runEarly(const Work& work, std::stop_token stop);
    // The first try of the utterance's final: the early one, when the utterance ended in the pause it was made in.
    std::optional<DecodedUtterance> takeEarlyTry(const Work& work, const std::string& prompt);
    bool shownTextIsStale() const;
    Work nextWork();
    void runFinal(Work& work, std::stop_token stop);
    void runRetry(Work& work, std::stop_token stop);
    // Reports what a final's decoded text becomes (see FinalSettler).
    void finishFinal(const Work& work, const DecodedUtterance& decoded);
    // Holds the text for the rest of its sentence (on show), or settles it.
    void settleOrHold(const Work& work, const std::string& text);
    void runInterim(Work& work, std::stop_token stop);
    // Reports `text` as the utterance's final line, or takes its volatile text back when there is none.
    void settle(const Work& work, const std::string& text);
    std::string accepted(const DecodedUtterance& decoded) const;
    bool holdExpired() const;
    bool holds(const Work& work, const std::string& text) const;
    std::string prompt() const;
    void markDone();
    // The decoder's pass over the work's audio; a notice it has for the user goes out as a result.
    std::optional<DecodedUtterance> decodeWith(UtteranceDecoder& decoder, const Work& work, const std::string& prompt,
                                               UtteranceDecoder::Pass pass, const std::function<bool()>& shouldAbort);

    const std::shared_ptr<UtteranceDecoder> m_decoder;
    // m_decoder itself unless two passes.
    const std::shared_ptr<UtteranceDecoder> m_finalDecoder;
    const Settings m_settings;
    const Stream<RecognitionResult> m_results = Channel<RecognitionResult>::make();

    mutable std::mutex m_mutex;
    std::condition_variable_any m_changed;
    UtteranceSegmenter m_segmenter;
    Stream<AnalyzerBuffer> m_input;
    // Utterances cut, waiting for their finals.
    std::deque<Work> m_finals;
    bool m_started = false;
    bool m_inputEnded = false;
    bool m_done = false;
    RefreshSchedule m_refreshes;
    // The utterance whose volatile text is on show, if any.
    std::optional<std::size_t> m_shownIndex;
    std::atomic<bool> m_finalWaiting{false};
    // A final that ended at a comma, waiting for the rest of its sentence; its text is on show.
    struct Held {
        Work work;
        std::string text;
    };
    std::optional<Held> m_held;
    // A final waiting for its fallback tries until the utterance in progress had its first refresh, and the text
    // of its greedy try, which stays on show meanwhile.
    std::optional<Work> m_retry;
    std::string m_retryText;
    // The utterance in progress's own volatile text, when m_shownIndex is that utterance.
    std::string m_shownText;
    // A final's first try taken in a pause of the utterance in progress (see earlyFinalPauseSeconds).
    struct EarlyTry {
        std::size_t index = 0;
        std::size_t samples = 0;
        std::string prompt;
        DecodedUtterance decoded;
        // True when the utterance's speech all came before the try's samples: only pause follows them.
        bool covers(std::size_t utteranceSamples, std::size_t pauseSamples) const
        {
            return samples + pauseSamples >= utteranceSamples;
        }
    };
    std::optional<EarlyTry> m_early;

    // Touched by the decoding thread only.
    std::string m_lastFinalText;
    FinalSettler m_settler;
    // Only with holdAfterContinuingWord.
    std::unique_ptr<SentenceContinuation> m_continuation;

    std::jthread m_intake;
    std::jthread m_decoding;
};

} // namespace tc
