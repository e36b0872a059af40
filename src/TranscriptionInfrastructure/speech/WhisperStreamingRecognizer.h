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
    struct Settings {
        UtteranceSegmenter::Settings segmentation;
        double minimumRefreshSeconds = 0.5;
        // The first refresh of an utterance comes sooner, so text appears soon after the speaker starts.
        double firstRefreshSeconds = 0.3;
        // Until the utterance in progress has text on show, refreshes follow each other this closely, whatever
        // they cost: over the first second a refresh is judged no speech about a third of the time, and the next
        // one half a second later (or later still, by the cost factor) made the first text late. 0 spaces them as
        // any other.
        double textlessRefreshSeconds = 0.3;
        double maximumRefreshSeconds = 3.0;
        // The refresh interval is at least this multiple of the last refresh's decoding time.
        double refreshCostFactor = 1.5;
        bool volatileResults = true;
        // Text whose no-speech probability reaches this and whose tokens are unsure is dropped... The first second
        // of speech reads 0.6-0.8 even when its text is right ("渡辺さん"): at 0.6 more first texts waited for the next
        // refresh (first volatile p95 under noise 1.17-1.99 s against 1.01-1.63 s at 0.7, no line over non-speech).
        float noSpeechThreshold = 0.7F;
        double unsureLogProbability = -0.5;
        // ...and so is any text with a no-speech probability this high, unless its tokens average at least
        // confidentLogProbability: a sentence of a second or so ("担当は田中さん", "大丈夫") reads 0.85-0.95 with
        // tokens at -0.2 to -0.46, and was lost whole. The texts made up without speech that got this far read
        // -0.47 ("あんんんん", over five minutes of non-speech) and -0.53 (babble).
        float certainNoSpeech = 0.85F;
        double confidentLogProbability = -0.45;
        // Text whose tokens' mean log probability is under this is the decoder guessing at sound it cannot place
        // (-3 to -4 over music on our evaluation set; speech stayed above -0.9 even under babble).
        double inventedLogProbability = -1.5;
        // A final's sampled try whose text is all Latin letters, no kana or kanji, is dropped: the greedy try was
        // unsure, and sampling turned the line into English nobody said ("Thank you for the hot season." for the end
        // of "月額の利用料は2980円です。" at pink 10 dB). All four lines in Latin letters alone over our evaluation
        // set's runs were made up. English a greedy try reads confidently ("OK") is not retried and stays. For a
        // Japanese recognizer only: the engine turns it off for other languages.
        bool dropSampledLatinLines = true;
        // How much of the previous final text goes to the decoder as context. None by default: on our evaluation
        // set the context raised the character error rate (clean 17.6 % to 22.0 %) and made the model repeat it.
        std::size_t promptCharacters = 0;
        // Text the decoder reads as preceding every utterance, before any previous line. None by default: every
        // text tried made lines end in "。" but leaked its own words into them and raised the error rate.
        std::string initialPrompt;
        // A final whose text ends at a comma is held (shown as volatile) and decoded again together with the next
        // utterance, when that one begins within this many seconds of the cut: some voices pause longer at a
        // comma than the end pause (jf_nezumi split 8 of 35 sentences). Sentences ending in a full stop settle
        // as before. 0 settles every final. On our evaluation set every sentence's rest began within 0.6 s of
        // its cut; at 2 s a sentence misheard as ending in a particle ("金曜日で") took the next one into its line,
        // whose final then came 6-8 s late.
        double commaHoldSeconds = 1.0;
        // Also hold a final ending in a particle or the te-form (は が を に で と て も ば): at a long pause the
        // decoder mostly leaves the comma out ("来週の会議では").
        bool holdAfterParticle = true;
        // And one ending in a noun (kanji, katakana, さん). Off: talk ends sentences in nouns ("了解", "明日は雨",
        // "担当は田中さん"), and held, such a sentence took the next one into its line whenever that began within the
        // hold, while in noise it kept no more sentences whole than without it.
        bool holdAfterNoun = false;
        // And one whose last word the dictionary reads as going on (see SentenceContinuation): a case particle
        // ("クライアントから"), the の between nouns, a verb's continuative form ("課題を洗い出し"). Off: such words
        // end no sentence, but the decoder's misreadings of short sentences do end in them ("遺似" for "以上。",
        // "もう終わっちゃの"); on our evaluation set it kept 3 sentences whole, merged 1 and made misread lines late.
        bool holdAfterContinuingWord = false;
        // And one that is only a name and a title ("小林さん", "田中さん。"): someone addressed, with the sentence to
        // come after the pause. A reply that is a name alone waits for the hold too, and a next sentence joined to it
        // is divided again at its full stop.
        bool holdAfterName = true;
        // A final whose text holds a sentence end where the utterance paused (too briefly to end it) is reported as
        // two lines, each with its own time: a fast talker's sentences came as one.
        bool divideAtInnerPauses = true;
        // A final whose greedy try wants the fallback tries (0.5-1 s more) lets an utterance that began meanwhile
        // have its first refresh before them; otherwise that utterance's first text waited behind them.
        bool firstTextBeforeRetry = true;
        // A final's greedy try begins this far into a pause, before the pause is long enough to end the utterance;
        // when it does end it with no speech since, that try is the final's, which then comes as soon as the cut
        // instead of one decoding after it. A pause that speech resumes after costs one decoding for nothing. 0
        // decodes a final only once it is cut.
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
