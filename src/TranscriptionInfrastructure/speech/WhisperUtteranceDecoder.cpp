#include "TranscriptionInfrastructure/speech/WhisperUtteranceDecoder.h"

#include "TranscriptionInfrastructure/speech/RecognizedText.h"
#include "TranscriptionInfrastructure/speech/TranscriberError.h"
#include "TranscriptionInfrastructure/speech/UnsureLatin.h"

#include <malloc.h>
#include <whisper.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>
#include <vector>

namespace tc {

namespace {

// The chance the model gives <|nospeech|> right after <|startoftranscript|> for the audio last encoded on the state.
// whisper.cpp reports its own from a row of logits it never computes (it evaluates only the last prompt token's
// row), which left it near 0 for speech and music alike; one extra decoder step gives the real value. Also
// returns 0 when that step fails: the other gates still apply.
float noSpeechProbability(whisper_context* ctx, whisper_state* state, int threads)
{
    const whisper_token start = whisper_token_sot(ctx);
    if (whisper_decode_with_state(ctx, state, &start, 1, 0, threads) != 0) return 0.0F;
    const float* logits = whisper_get_logits_from_state(state);
    const int vocabulary = whisper_n_vocab(ctx);
    const float top = *std::max_element(logits, logits + vocabulary);
    double sum = 0;
    for (int i = 0; i < vocabulary; ++i)
        sum += std::exp(static_cast<double>(logits[i] - top));
    return static_cast<float>(std::exp(static_cast<double>(logits[whisper_token_nosp(ctx)] - top)) / sum);
}

} // namespace

WhisperUtteranceDecoder::WhisperUtteranceDecoder(std::shared_ptr<WhisperContext> context, State state,
                                                 std::string language, DecodingPolicy policy)
    : m_context(std::move(context)), m_state(std::move(state)), m_language(std::move(language)), m_policy(policy)
{}

WhisperUtteranceDecoder::~WhisperUtteranceDecoder()
{
    m_state.reset();
    // The state's buffers were allocated on this session's threads, in the allocator's per-thread arenas, which
    // keep freed memory between other blocks: the app grew by about 45 MB with each session until it is
    // handed back.
    malloc_trim(0);
}

std::optional<DecodedUtterance> WhisperUtteranceDecoder::decode(std::span<const float> samples,
                                                                const std::string& prompt, Pass pass,
                                                                const std::function<bool()>& shouldAbort)
{
    if (!m_context->device().onGpu()) return decodeHere(samples, prompt, pass, shouldAbort);
    try {
        return decodeHere(samples, prompt, pass, shouldAbort);
    } catch (const std::exception&) {
        // A GPU that fails once (a lost device, memory run out, a driver fault) is not trusted again: the same
        // weights go to the processor, for this decoding and every later one.
        const std::string gpu = m_context->device().gpu;
        auto processor = m_context->processorFallback();
        m_state.reset();
        m_state.reset(whisper_init_state(processor->handle()));
        if (!m_state) throw TranscriberError::recognitionFailed("whisper_init_state");
        m_context = std::move(processor);
        m_notice = "GPU（" + gpu + "）での音声認識に失敗したため、CPU に切り替えて続けます。";
        return decodeHere(samples, prompt, pass, shouldAbort);
    }
}

std::optional<std::string> WhisperUtteranceDecoder::takeNotice()
{
    return std::exchange(m_notice, std::nullopt);
}

std::optional<DecodedUtterance> WhisperUtteranceDecoder::decodeHere(std::span<const float> samples,
                                                                    const std::string& prompt, Pass pass,
                                                                    const std::function<bool()>& shouldAbort)
{
    m_threads = m_context->decodingBegins();
    const Ended ended{*m_context};
    // Under 1 s the engine decodes poorly or not at all: pad with silence.
    std::vector<float> audio(samples.begin(), samples.end());
    const std::size_t minimum = WHISPER_SAMPLE_RATE + WHISPER_SAMPLE_RATE / 10;
    if (audio.size() < minimum) audio.resize(minimum, 0.0F);
    // Interim text is thrown away within a second: no fallback passes for it.
    const float fallback = pass == Pass::interim ? 0.0F : m_policy.finalTemperatureIncrement;
    if (pass == Pass::finalRetry) return decodeOnce(audio, prompt, pass, fallback, fallback, shouldAbort).result;
    if (fallback <= 0.0F || !m_policy.dropSoundLoops)
        return decodeOnce(audio, prompt, pass, 0.0F, fallback, shouldAbort).result;

    // The greedy pass goes alone first, as the engine's own fallback retries any loop, whatever it loops on.
    // A retry from here encodes the audio again, which only the finals that failed pay for.
    auto greedy = decodeOnce(audio, prompt, pass, 0.0F, 0.0F, shouldAbort);
    if (!greedy.result) return std::nullopt;
    if (greedy.loopedOnASound) {
        // A loop of one or two characters ("おぉぉぉぉ", "パパパパ") is the model hearing a sound, not words;
        // sampling at a higher temperature turned such loops over music into whole made-up sentences
        // ("コメントをご覧ください!", "おはよう!").
        greedy.result->text.clear();
        return greedy.result;
    }
    if (greedy.result->averageLogProbability >= m_policy.retryBelowLogProbability && !greedy.looped)
        return greedy.result;
    if (pass == Pass::finalFirstTry) {
        greedy.result->retryWanted = true;
        return greedy.result;
    }
    return decodeOnce(audio, prompt, pass, fallback, fallback, shouldAbort).result;
}

WhisperUtteranceDecoder::Ended::~Ended()
{
    context.decodingEnded();
}

WhisperUtteranceDecoder::Attempt WhisperUtteranceDecoder::decodeOnce(const std::vector<float>& audio,
                                                                     const std::string& prompt, Pass pass,
                                                                     float temperature, float fallback,
                                                                     const std::function<bool()>& shouldAbort)
{
    const whisper_full_params params = parameters(audio.size(), prompt, pass, temperature, fallback, shouldAbort);
    const int status = whisper_full_with_state(m_context->handle(), m_state.get(), params, audio.data(),
                                               static_cast<int>(audio.size()));
    if (shouldAbort()) return {};
    if (status != 0) throw TranscriberError::recognitionFailed("whisper_full " + std::to_string(status));
    return readAttempt(temperature);
}

whisper_full_params WhisperUtteranceDecoder::parameters(std::size_t samples, const std::string& prompt, Pass pass,
                                                        float temperature, float fallback,
                                                        const std::function<bool()>& shouldAbort) const
{
    const double seconds = static_cast<double>(samples) / WHISPER_SAMPLE_RATE;
    const bool beam = pass != Pass::interim && m_policy.finalBeamSize > 1;
    whisper_full_params params =
        whisper_full_default_params(beam ? WHISPER_SAMPLING_BEAM_SEARCH : WHISPER_SAMPLING_GREEDY);
    if (beam) params.beam_search.beam_size = m_policy.finalBeamSize;
    params.greedy.best_of = std::max(1, m_policy.finalBestOf);
    params.n_threads = m_threads;
    params.language = m_language.c_str();
    params.translate = false;
    params.no_context = true;
    // With timestamp tokens the decoder predicts where speech ends and stops there; without them, on a
    // shrunken encoder context, it tends to repeat the sentence until the token limit.
    params.no_timestamps = false;
    params.single_segment = true;
    params.print_progress = false;
    params.print_realtime = false;
    params.print_special = false;
    params.print_timestamps = false;
    params.suppress_blank = true;
    params.suppress_nst = m_policy.suppressNonSpeechTokens;
    params.entropy_thold = m_policy.retryBelowEntropy;
    params.logprob_thold = m_policy.retryBelowLogProbability;
    // Above any probability: the engine's check would read a stale value (see DecodingPolicy).
    if (!m_policy.engineNoSpeechCheck) params.no_speech_thold = 2.0F;
    params.temperature = temperature;
    params.temperature_inc = fallback;
    params.initial_prompt = prompt.empty() ? nullptr : prompt.c_str();
    params.audio_ctx = m_context->encoderContext(seconds, pass == Pass::interim ? WhisperContext::refreshContextMargin
                                                                                : m_policy.finalContextMargin);
    // A runaway repetition is cut off: about 15 tokens per second of Japanese speech is plenty.
    params.max_tokens = static_cast<int>(seconds * 15.0) + 16;
    params.abort_callback = [](void* data) { return (*static_cast<const std::function<bool()>*>(data))(); };
    params.abort_callback_user_data = const_cast<std::function<bool()>*>(&shouldAbort);
    params.encoder_begin_callback = [](whisper_context*, whisper_state*, void* data) {
        return !(*static_cast<const std::function<bool()>*>(data))();
    };
    params.encoder_begin_callback_user_data = const_cast<std::function<bool()>*>(&shouldAbort);
    return params;
}

WhisperUtteranceDecoder::Attempt WhisperUtteranceDecoder::readAttempt(float temperature)
{
    whisper_context* ctx = m_context->handle();
    DecodedUtterance result;
    std::vector<UnsureLatin::TokenPiece> pieces;
    double logSum = 0;
    int tokens = 0;
    const whisper_token endOfText = whisper_token_eot(ctx);
    const int segments = whisper_full_n_segments_from_state(m_state.get());
    for (int s = 0; s < segments; ++s) {
        const int count = whisper_full_n_tokens_from_state(m_state.get(), s);
        for (int t = 0; t < count; ++t) {
            const whisper_token_data data = whisper_full_get_token_data_from_state(m_state.get(), s, t);
            // Special tokens (end of text, timestamps, language tags) sit above the text vocabulary.
            if (data.id >= endOfText) continue;
            pieces.push_back({whisper_full_get_token_text_from_state(ctx, m_state.get(), s, t), data.p});
            logSum += data.plog;
            ++tokens;
        }
    }
    // Token pieces may end inside a multi-byte character; the assembled text never does.
    const std::string bytes =
        UnsureLatin::joinedWithout(pieces, {.capitalized = m_policy.unsureLatinProbability,
                                            .lowercase = m_policy.unsureLowercaseLatinProbability,
                                            .termBeforeParticle = m_policy.unsureLatinTermProbability});
    const std::string complete = RecognizedText::completeUtf8(bytes);
    result.text = RecognizedText::withoutRepetitionLoops(complete);
    Attempt attempt;
    const std::u32string kept = RecognizedText::normalizedForComparison(result.text);
    attempt.looped = kept.size() < RecognizedText::normalizedForComparison(complete).size();
    attempt.loopedOnASound = attempt.looped && std::set<char32_t>(kept.begin(), kept.end()).size() <= 2;
    result.averageLogProbability = tokens > 0 ? logSum / tokens : 0.0;
    result.sampled = temperature > 0.0F;
    // Overwrites the decoder's cache, so only after the tokens were read.
    result.noSpeechProbability = noSpeechProbability(ctx, m_state.get(), m_threads);
    attempt.result = std::move(result);
    return attempt;
}

} // namespace tc
