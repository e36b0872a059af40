#include "TranscriptionInfrastructure/speech/WhisperContext.h"

#include "TranscriptionInfrastructure/speech/ModelSpeedTrial.h"
#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"
#include "TranscriptionInfrastructure/speech/TranscriberError.h"
#include "TranscriptionInfrastructure/speech/WhisperModelFileCheck.h"
#include "TranscriptionInfrastructure/speech/WhisperUtteranceDecoder.h"

#include <whisper.h>
#if __has_include(<tc_whisper_info.h>)
#include <tc_whisper_info.h>
#define TC_WITH_DEVICE_PROBE 1
#else
#define TC_WITH_DEVICE_PROBE 0
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <new>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace tc {

namespace {

void silentLog(ggml_log_level, const char*, void*) {}

// Encoder frames the engine's flash attention pads its attention to.
constexpr int kAttentionBlock = 256;

} // namespace

void WhisperContext::silenceEngineLog()
{
    // The engine prints to stderr by default, which would interleave with the headless command's output.
    static std::once_flag once;
    std::call_once(once, [] { whisper_log_set(silentLog, nullptr); });
}

void WhisperContext::Deleter::operator()(whisper_context* context) const
{
    whisper_free(context);
}

void WhisperContext::StateDeleter::operator()(whisper_state* state) const
{
    whisper_free_state(state);
}

WhisperContext::WhisperContext(std::unique_ptr<whisper_context, Deleter> context, std::filesystem::path file,
                               int threads, EncoderAttention attention, ComputeDevice device)
    : m_context(std::move(context)), m_file(std::move(file)), m_threads(threads), m_attention(attention),
      m_device(std::move(device)), m_load(std::max(1, static_cast<int>(std::thread::hardware_concurrency())))
{}

std::string ComputeDevice::label() const
{
    return onGpu() ? "GPU (" + gpu + ")" : "CPU";
}

ComputeDevice WhisperContext::gpuDevice()
{
    static const ComputeDevice probed = [] {
        ComputeDevice device;
        const char* wanted = std::getenv("TC_SPEECH_DEVICE");
        if (wanted && std::string_view(wanted) == "cpu") return device;
#if TC_WITH_DEVICE_PROBE
        silenceEngineLog();
        char name[256];
        if (tc_whisper_gpu_device(name, sizeof name)) device.gpu = name;
#endif
        return device;
    }();
    return probed;
}

ModelSpeedTrial WhisperContext::speedTrial(const std::filesystem::path& modelFile, const ComputeDevice& device,
                                           int threads)
{
    return ModelSpeedTrial(modelFile, threads > 0 ? threads : defaultThreads(), device.label(), whisper_version());
}

bool WhisperContext::gpuBackendBuilt()
{
#if TC_WITH_DEVICE_PROBE
    return tc_whisper_gpu_backend_built() != 0;
#else
    return false;
#endif
}

std::optional<std::string> WhisperContext::takeNotice()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_notice, std::nullopt);
}

std::shared_ptr<WhisperContext> WhisperContext::processorFallback()
{
    std::lock_guard lock(m_mutex);
    if (!m_device.onGpu()) return shared_from_this();
    if (!m_fallback) {
        auto loaded = loadOnProcessor(m_file, m_threads, std::nullopt);
        if (!loaded) throw std::move(loaded).error();
        m_fallback = std::move(loaded).value();
    }
    return m_fallback;
}

std::shared_ptr<WhisperContext> WhisperContext::inUse()
{
    std::lock_guard lock(m_mutex);
    return m_fallback ? m_fallback : shared_from_this();
}

void WhisperContext::decodeForTiming(double seconds, int tokens)
{
    const std::unique_ptr<whisper_state, StateDeleter> state(whisper_init_state(m_context.get()));
    if (!state) throw TranscriberError::recognitionFailed("whisper_init_state");
    int status = encodeSilence(state.get(), seconds);
    if (status != 0) throw TranscriberError::recognitionFailed("whisper_full " + std::to_string(status));
    // Then the text, one token at a time on the decoder's cache, after the prompt's few tokens.
    const whisper_token token = whisper_token_sot(m_context.get());
    for (int past = 4; past < 4 + tokens; ++past) {
        status = whisper_decode_with_state(m_context.get(), state.get(), &token, 1, past, m_threads);
        if (status != 0) throw TranscriberError::recognitionFailed("whisper_decode " + std::to_string(status));
    }
}

int WhisperContext::encodeSilence(whisper_state* state, double seconds)
{
    const std::vector<float> audio(static_cast<std::size_t>(seconds * WHISPER_SAMPLE_RATE), 0.0F);
    whisper_full_params params = whisper_full_default_params(WHISPER_SAMPLING_GREEDY);
    params.n_threads = m_threads;
    params.language = "ja";
    params.no_context = true;
    params.single_segment = true;
    params.print_progress = false;
    params.print_realtime = false;
    params.temperature_inc = 0.0F;
    params.max_tokens = 1;
    params.audio_ctx = encoderContext(seconds, refreshContextMargin);
    return whisper_full_with_state(m_context.get(), state, params, audio.data(), static_cast<int>(audio.size()));
}

void WhisperContext::measureSpeedOnce()
{
    const ModelSpeedTrial trial = speedTrial(m_file, m_device, m_threads);
    if (trial.remembered()) return;
    try {
        trial.measure([this](double seconds, int tokens) { decodeForTiming(seconds, tokens); },
                      &ModelSpeedTrial::steadySeconds);
    } catch (const TranscriberError&) {
        // Unmeasured, it is neither advised nor advised against; a later load tries again.
    }
}

int WhisperContext::decodingBegins()
{
    m_load.decodingBegins(ProcessorLoadGauge::read());
    return m_load.threadsFor(m_threads);
}

void WhisperContext::decodingEnded()
{
    m_load.decodingEnded(ProcessorLoadGauge::read());
}

int WhisperContext::encoderContext(double seconds, int margin) const
{
    // Cost follows the utterance, not the 30 s window: encode only the frames that hold audio, and the margin.
    const int fullContext = whisper_model_n_audio_ctx(m_context.get());
    const int audioContext = static_cast<int>(std::ceil(seconds / 30.0 * fullContext)) + margin;
    // The engine's flash attention reads the attention rows up to the next multiple of 256, unmasked, and past a
    // shorter context those rows keep what a longer decoding on the state left there: the same audio read
    // differently after other work (a 0.6 s refresh judged no speech on a fresh state was accepted as "シオシオ"
    // after 4 s of speech). A context of whole blocks is encoded audio and silence throughout.
    if (m_attention == EncoderAttention::flash)
        return std::min(fullContext, (audioContext + kAttentionBlock - 1) / kAttentionBlock * kAttentionBlock);
    return std::min(fullContext, audioContext);
}

double WhisperContext::encodingSeconds(double seconds)
{
    const std::unique_ptr<whisper_state, StateDeleter> state(whisper_init_state(m_context.get()));
    if (!state) throw TranscriberError::recognitionFailed("whisper_init_state");
    // What the audio holds does not change the encoder's work; one token keeps the decoder's share small and alike
    // (silence decoded in full made up different sentences under the two attentions).
    // All threads: a few back-to-back tries leave the load gauge no pause to read.
    const auto start = std::chrono::steady_clock::now();
    const int status = encodeSilence(state.get(), seconds);
    const double spent = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (status != 0) throw TranscriberError::recognitionFailed("whisper_full " + std::to_string(status));
    return spent;
}

WhisperContext::Loaded WhisperContext::load(const std::filesystem::path& modelFile, int threads,
                                            std::optional<EncoderAttention> attention, DevicePreference devices)
{
    if (threads <= 0) threads = defaultThreads();
    std::shared_ptr<WhisperContext> context;
    std::optional<std::string> notice;
    if (const auto gpu = devices == DevicePreference::automatic ? gpuDevice() : ComputeDevice{}; gpu.onGpu()) {
        // The engine's own default on a GPU; the attention trial times the processor's kernels.
        if (auto onGpu = loadWith(modelFile, threads, attention.value_or(EncoderAttention::flash), gpu))
            context = std::move(onGpu).value();
        else
            notice = "GPU（" + gpu.gpu + "）で音声認識モデルを読み込めなかったため、CPU で認識します。";
    }
    if (!context) {
        auto onProcessor = loadOnProcessor(modelFile, threads, attention);
        if (!onProcessor) return onProcessor;
        context = std::move(onProcessor).value();
    }
    context->m_notice = std::move(notice);
    context->measureSpeedOnce();
    return context;
}

WhisperContext::Loaded WhisperContext::loadOnProcessor(const std::filesystem::path& modelFile, int threads,
                                                       std::optional<EncoderAttention> attention)
{
    if (attention) return loadWith(modelFile, threads, *attention);
    const EncoderAttentionTrial trial(modelFile, threads);
    if (const auto known = trial.remembered()) return loadWith(modelFile, threads, *known);
    auto flash = loadWith(modelFile, threads, EncoderAttention::flash);
    if (!flash) return flash;
    // No room for the weights twice: the engine's default now, measured at a later start.
    const auto plain = loadWith(modelFile, threads, EncoderAttention::plain);
    if (!plain) return flash;
    try {
        return trial.measure(**flash, **plain) == EncoderAttention::flash ? flash : plain;
    } catch (const TranscriberError&) {
        // The engine failed while timing: unmeasured, the engine's default.
        return flash;
    }
}

WhisperContext::Loaded WhisperContext::loadWith(const std::filesystem::path& modelFile, int threads,
                                                EncoderAttention attention, const ComputeDevice& device)
{
    silenceEngineLog();
    const std::string name = SpeechModelManager::modelNameOf(modelFile);
    // The engine trusts the file's layout and aborts the whole program on a damaged one: it only ever sees a
    // file whose every field has been checked.
    const auto checked = WhisperModelFileCheck::check(modelFile, true);
    if (!checked)
        return Unexpected{
            TranscriberError::modelUnavailable(SpeechModelManager::problemMessage(name, modelFile, checked.error()))};
    const auto& layout = *checked;
    if (const auto available = availableMemory(); available && layout.weightBytes > *available)
        return Unexpected{TranscriberError::modelUnavailable(
            SpeechModelManager::memoryMessage(name, modelFile, layout.weightBytes, *available))};

    whisper_context_params params = whisper_context_default_params();
    params.use_gpu = device.onGpu();
    params.gpu_device = 0;
    // Both read sentences with the same error rate; which is faster depends on the processor (EncoderAttentionTrial).
    params.flash_attn = attention == EncoderAttention::flash;
    whisper_context* context = nullptr;
    try {
        context = whisper_init_from_file_with_params_no_state(modelFile.c_str(), params);
    } catch (const std::bad_alloc&) {
        // The engine's C API lets its C++ allocation failures through.
        return Unexpected{TranscriberError::modelUnavailable(
            SpeechModelManager::memoryMessage(name, modelFile, layout.weightBytes, availableMemory().value_or(0)))};
    } catch (const std::exception&) {
        context = nullptr;
    }
    if (!context)
        return Unexpected{TranscriberError::modelUnavailable("音声認識モデル「" + name + "」（" + modelFile.string() +
                                                             "）を読み込めませんでした。メモリが足りないか、ファイルが"
                                                             "壊れている可能性があります。ほかのアプリを閉じてから"
                                                             "もう一度お試しください。直らないときは、端末で " +
                                                             SpeechModelManager::installCommand(name) +
                                                             " を実行して入れ直してください。")};
    return std::shared_ptr<WhisperContext>(
        new WhisperContext(std::unique_ptr<whisper_context, Deleter>(context), modelFile, threads, attention, device));
}

std::optional<std::uint64_t> WhisperContext::availableMemory(const std::filesystem::path& meminfo)
{
    // What can be had without the kernel refusing: free-able memory plus free swap.
    std::ifstream in(meminfo);
    std::optional<std::uint64_t> available;
    std::uint64_t swapFree = 0;
    std::string key;
    std::uint64_t kilobytes = 0;
    std::string unit;
    while (in >> key >> kilobytes) {
        std::getline(in, unit);
        if (key == "MemAvailable:") available = kilobytes * 1024;
        if (key == "SwapFree:") swapFree = kilobytes * 1024;
    }
    if (!available) return std::nullopt;
    return *available + swapFree;
}

int WhisperContext::defaultThreads()
{
    // The engine's OpenMP threads spin while they wait for each other. On a machine whose cores are busy with
    // other work (the capture, the user's video call) a second spinning thread made one decode 3 to 10 times
    // slower than a single thread in our measurements; with passive waiting after a short spin, which OpenMP reads
    // only at start-up, two threads are safe, and a decoding takes one while a core is busy elsewhere
    // (decodingBegins).
    const char* policy = std::getenv("OMP_WAIT_POLICY");
    return policy && std::string_view(policy) == "passive" ? 2 : 1;
}

std::unique_ptr<UtteranceDecoder> WhisperContext::makeDecoder(const std::string& language, DecodingPolicy policy)
{
    whisper_state* state = whisper_init_state(m_context.get());
    if (!state) throw TranscriberError::recognitionFailed("whisper_init_state");
    return std::make_unique<WhisperUtteranceDecoder>(
        shared_from_this(), std::unique_ptr<whisper_state, StateDeleter>(state), language, policy);
}

std::vector<std::string> WhisperContext::languages()
{
    std::vector<std::string> codes;
    for (int id = 0; id <= whisper_lang_max_id(); ++id) {
        if (const char* code = whisper_lang_str(id)) codes.emplace_back(code);
    }
    return codes;
}

std::string WhisperContext::modelType() const
{
    return whisper_model_type_readable(m_context.get());
}

} // namespace tc
