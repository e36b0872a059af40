#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>

namespace tc {

// What one decoding of an utterance gave.
struct DecodedUtterance {
    // Valid UTF-8, as the engine wrote it.
    std::string text;
    // The engine's belief that the audio holds no speech (0 to 1).
    float noSpeechProbability = 0;
    // Mean log probability of the text tokens; 0 without tokens.
    double averageLogProbability = 0;
    // Set by a final's first try only: the text looks unreliable and a Pass::finalRetry of the same audio may do
    // better.
    bool retryWanted = false;
    // The text comes from a try above temperature 0 (a final's fallback tries, which sample). False when the
    // engine's own fallback chose the try (DecodingPolicy::dropSoundLoops off).
    bool sampled = false;
};

// How the engine searches for the text of a final; interim text is always decoded greedily, once.
struct DecodingPolicy {
    // Hypotheses kept side by side; 1 decodes greedily.
    int finalBeamSize = 1;
    // Temperature added for each new try when a final's text looks unreliable (repetitive or improbable); 0 never
    // tries again.
    float finalTemperatureIncrement = 0.2F;
    // Texts sampled side by side at each try above temperature 0; the likeliest is kept. The engine's 5 made a
    // final that needed its tries 0.5-1.5 s later than 2 does (pink noise, final p95 1.84-2.00 -> 1.59 s over 80
    // sentences), with the same error rate; 1 cost Mei's voice 2 points.
    int finalBestOf = 2;
    // Latin-script words inside Japanese text whose tokens' mean probability is under this are dropped (see
    // UnsureLatin::joinedWithout); 0 keeps every word. At 0.4 the evaluation set lost its invented
    // English ("変更してから log 印して") and kept the terms spoken ("iPhone"), at the same error rate.
    double unsureLatinProbability = 0.4;
    // The same for a word without a capital letter. The terms speakers used inside Japanese on our evaluation set
    // were names and acronyms ("iPhone", "Zoom", "API"; 0.36-1.00); every lowercase word was the decoder's own, for
    // kana it misheard ("から log 員して", "利用量aに", "次のmeatingは" for ミーティング; 0.14-0.63).
    double unsureLowercaseLatinProbability = 0.75;
    // The same for one capitalised word that opens a phrase and that a particle follows ("AIを使って", "CPUの使用率"):
    // the speaker used it as a noun. Decoding the evaluation set's sentences one by one in all four conditions (about
    // 3,100), 12 spoken terms came so under 0.4 ("AI", "CPU", "URL" at 0.22-0.39 at pink 10 dB and in babble, two
    // "Zoom"s at 0.16-0.17; dropping them left a line starting with its particle), and two words nobody said ("BJは"
    // 0.11, "BIGSは" 0.20).
    double unsureLatinTermProbability = 0.22;
    // A final whose greedy text loops on one or two characters ("おぉぉぉぉ") is a sound, not words: it comes out
    // empty instead of going to the fallback tries, which sample whole sentences out of it. Over the non-speech
    // recording with the pitch check off, 5-6 made-up lines became 3; no final of the speech subsets looped so.
    bool dropSoundLoops = true;
    // whisper.cpp's own no-speech check empties a decoding whose no-speech probability exceeds 0.6 while its tokens
    // average under -1.0, but it reads that probability from logits it never computes for the audio at hand: what
    // is left there is our own no-speech step of the previous decoding. So a refresh after one that sounded like
    // no speech came out empty (22 of 48 such refreshes on our evaluation set, against 3 of 381 after speech).
    // Off, our own gates judge the text with the probability of its own audio.
    bool engineNoSpeechCheck = false;
    // A final whose greedy tokens average under this log probability is tried again (whisper.cpp's own figure).
    float retryBelowLogProbability = -1.0F;
    // In the tries after the greedy one, text whose last tokens' entropy is under this counts as repetitive.
    float retryBelowEntropy = 2.4F;
    // Encoder frames (20 ms each) decoded past the end of a final's audio; a context cut at the very end of speech
    // loses the last syllables.
    int finalContextMargin = 64;
    // Bars the tokens whisper writes for sounds rather than words (brackets, music notes).
    bool suppressNonSpeechTokens = true;
};

// Decodes whole utterances of 16 kHz mono audio. Used by one thread at a time.
class UtteranceDecoder {
public:
    // final searches as DecodingPolicy says, retries included. finalFirstTry is its greedy try alone, and
    // finalRetry its tries at higher temperatures, for a caller with more urgent work in between.
    enum class Pass { interim, final, finalFirstTry, finalRetry };

    virtual ~UtteranceDecoder() = default;

    // Decodes the audio with the prompt as preceding text. Nothing when shouldAbort answered true during the
    // work (it is asked often); throws TranscriberError when the engine fails.
    virtual std::optional<DecodedUtterance> decode(std::span<const float> samples, const std::string& prompt, Pass pass,
                                                   const std::function<bool()>& shouldAbort) = 0;
    // What the user should be told about the decodings so far (Japanese), once; nothing by default.
    virtual std::optional<std::string> takeNotice() { return std::nullopt; }
};

} // namespace tc
