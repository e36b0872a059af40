#pragma once

#include "TranscriptionDomain/Expected.h"
#include "TranscriptionInfrastructure/speech/EncoderAttentionTrial.h"
#include "TranscriptionInfrastructure/speech/ModelSpeedTrial.h"
#include "TranscriptionInfrastructure/speech/ProcessorLoadGauge.h"
#include "TranscriptionInfrastructure/speech/TranscriberError.h"
#include "TranscriptionInfrastructure/speech/UtteranceDecoder.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct whisper_context;
struct whisper_state;

namespace tc {

// Where a context's weights live and its decodings run.
struct ComputeDevice {
    // The GPU's name as its driver gives it; empty on the processor.
    std::string gpu;

    bool onGpu() const { return !gpu.empty(); }
    // "GPU (AMD Radeon RX 6600)" or "CPU", as the settings show it.
    std::string label() const;
    friend bool operator==(const ComputeDevice&, const ComputeDevice&) = default;
};

// Which devices a load may use.
enum class DevicePreference { automatic, processor };

// Loaded whisper.cpp model weights, shared by every decoder made from them. The weights are read-only after
// loading, so any thread may make decoders; each decoder has its own whisper state.
class WhisperContext : public std::enable_shared_from_this<WhisperContext> {
public:
    // Checks the file's layout and the free memory, then loads it; when it cannot, the TranscriberError
    // (modelUnavailable) the recognizer port throws, a Japanese message naming the file and its fix (reinstall,
    // permissions, memory). Never hands a damaged file to the engine. threads 0 picks the number of decoding threads
    // (see defaultThreads()). Without an attention, the one that decodes faster on this processor: remembered, or
    // measured on both when memory allows (a few seconds, once; see EncoderAttentionTrial). Automatic loads on the GPU
    // gpuDevice() names and, when that fails, on the processor, with takeNotice() saying so. The model's speed is
    // measured at its first load on this device and remembered (ModelSpeedTrial).
    using Loaded = Expected<std::shared_ptr<WhisperContext>, TranscriberError>;
    static Loaded load(const std::filesystem::path& modelFile, int threads = 0,
                       std::optional<EncoderAttention> attention = std::nullopt,
                       DevicePreference devices = DevicePreference::automatic);
    // The GPU an automatic load decodes on; nothing when the build has no GPU backend, no device opens, or
    // TC_SPEECH_DEVICE=cpu is set. Probed once per process.
    static ComputeDevice gpuDevice();
    // The speed trial a load of the file on this device with this many threads (0: defaultThreads()) runs.
    static ModelSpeedTrial speedTrial(const std::filesystem::path& modelFile, const ComputeDevice& device,
                                      int threads = 0);
    // True when the engine was built with a GPU backend (Vulkan).
    static bool gpuBackendBuilt();
    // Why the model is on another device than wanted (Japanese), once; nothing otherwise. Thread-safe.
    std::optional<std::string> takeNotice();
    const ComputeDevice& device() const { return m_device; }
    // The same weights on the processor, loaded on first call, for a GPU whose decoding failed; this context
    // itself on the processor. Throws the TranscriberError load() would give, for the decoder that asked. Thread-safe.
    std::shared_ptr<WhisperContext> processorFallback();
    // The context later decoders should use: the processor fallback once one was made, else this one.
    std::shared_ptr<WhisperContext> inUse();
    // Bytes of memory that can still be had (available plus free swap) as meminfo tells; nothing if unknown.
    static std::optional<std::uint64_t> availableMemory(const std::filesystem::path& meminfo = "/proc/meminfo");
    // The most decoding threads: 1, or 2 when OMP_WAIT_POLICY=passive was set before the program started.
    static int defaultThreads();
    // Keeps the engine's log off stderr, for every model it loads.
    static void silenceEngineLog();
    // Frees a whisper.cpp state made over these weights.
    struct StateDeleter {
        void operator()(whisper_state* state) const;
    };
    // Encoder frames a refresh encodes past its audio (1.28 s): a context cut at the very end of speech loses the
    // last syllables.
    static constexpr int refreshContextMargin = 64;

    // A decoder with its own state for the language ("ja"); throws TranscriberError when no state can be made.
    std::unique_ptr<UtteranceDecoder> makeDecoder(const std::string& language, DecodingPolicy policy = {});
    // The engine's language codes ("en", "ja", ...), in its own order.
    static std::vector<std::string> languages();
    // The model's name as the engine reads it ("base", "small", ...).
    std::string modelType() const;
    int threads() const { return m_threads; }
    EncoderAttention attention() const { return m_attention; }
    // The threads for a decoding that begins now: threads(), or fewer while other work, between decodings, left too
    // few cores at least half free (one on two cores). Every decoding that began ends with decodingEnded().
    int decodingBegins();
    void decodingEnded();
    whisper_context* handle() const { return m_context.get(); }
    // Encoder frames a decoding of this much audio encodes: the audio and margin frames after it, rounded up to whole
    // 256-frame blocks under the flash attention.
    int encoderContext(double seconds, int margin) const;
    // Seconds a refresh of this much audio takes on a fresh state with the decoder stopped after one token: the
    // encoder's share, which the attentions change. Throws TranscriberError when the engine fails.
    double encodingSeconds(double seconds);
    // Encodes this much silence on a fresh state and then decodes tokens one at a time, as a final of that length
    // does: the work ModelSpeedTrial times. The weights' values do not matter, so a file without them measures the
    // model's real cost. Throws TranscriberError when the engine fails.
    void decodeForTiming(double seconds, int tokens);
    // Encodes that much silence with one token of decoding, on all threads, as both timings need; whisper_full's status.
    int encodeSilence(whisper_state* state, double seconds);

private:
    struct Deleter {
        void operator()(whisper_context* context) const;
    };

    WhisperContext(std::unique_ptr<whisper_context, Deleter> context, std::filesystem::path file, int threads,
                   EncoderAttention attention, ComputeDevice device);
    static Loaded loadOnProcessor(const std::filesystem::path& modelFile, int threads,
                                  std::optional<EncoderAttention> attention);
    static Loaded loadWith(const std::filesystem::path& modelFile, int threads, EncoderAttention attention,
                           const ComputeDevice& device = {});
    // Measures the speed when this device has not yet (see ModelSpeedTrial); a failure leaves it unmeasured.
    void measureSpeedOnce();

    std::unique_ptr<whisper_context, Deleter> m_context;
    std::filesystem::path m_file;
    int m_threads;
    EncoderAttention m_attention;
    ComputeDevice m_device;
    ProcessorLoadGauge m_load;
    std::mutex m_mutex;
    std::optional<std::string> m_notice;
    std::shared_ptr<WhisperContext> m_fallback;
};

} // namespace tc
