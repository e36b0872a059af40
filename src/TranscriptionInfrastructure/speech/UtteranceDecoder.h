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
    // Texts sampled side by side at each try above temperature 0; the likeliest is kept. Fewer than the engine's 5,
    // so a final that needs its tries comes sooner. Measured: docs/recognition.md, "Seventh round".
    int finalBestOf = 2;
    // Latin-script words inside Japanese text whose tokens' mean probability is under this are dropped (see
    // UnsureLatin::joinedWithout): the decoder's invented English goes, spoken terms ("iPhone") stay; 0 keeps every
    // word. Measured: docs/recognition.md, "First round".
    double unsureLatinProbability = 0.4;
    // The same for a word without a capital letter, which is mostly the decoder's reading of kana it misheard
    // ("次のmeatingは"). Measured: docs/recognition.md, "Fourteenth round".
    double unsureLowercaseLatinProbability = 0.75;
    // The same for one capitalised word that opens a phrase and that a particle follows ("AIを使って", "CPUの使用率"):
    // the speaker used it as a noun. Measured: docs/recognition.md, "Twenty-sixth round".
    double unsureLatinTermProbability = 0.22;
    // A final whose greedy text loops on one or two characters ("おぉぉぉぉ") is a sound, not words: it comes out
    // empty instead of going to the fallback tries, which sample whole sentences out of it. Measured:
    // docs/recognition.md, "Fourth round".
    bool dropSoundLoops = true;
    // whisper.cpp's own no-speech check reads the no-speech probability of the previous decoding, not of the audio
    // at hand, and empties refreshes after one that sounded like no speech; off, our own gates judge the text with
    // the probability of its own audio. Measured: docs/recognition.md, "Fifth round".
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
