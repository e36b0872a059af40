#pragma once

#include "TranscriptionInfrastructure/speech/EncoderAttentionTrial.h"
#include "TranscriptionInfrastructure/speech/ProcessorLoadGauge.h"
#include "TranscriptionInfrastructure/speech/UtteranceDecoder.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct whisper_context;
struct whisper_state;

namespace tc {

// Loaded whisper.cpp model weights, shared by every decoder made from them. The weights are read-only after
// loading, so any thread may make decoders; each decoder has its own whisper state.
class WhisperContext : public std::enable_shared_from_this<WhisperContext> {
public:
    // Checks the file's layout and the free memory, then loads it; throws TranscriberError::modelUnavailable with a
    // Japanese message naming the file and its fix (reinstall, permissions, memory) when it cannot. Never hands a
    // damaged file to the engine. threads 0 picks the number of decoding threads (see defaultThreads()). Without an
    // attention, the one that decodes faster on this processor: remembered, or measured on both when memory allows
    // (a few seconds, once; see EncoderAttentionTrial).
    static std::shared_ptr<WhisperContext> load(const std::filesystem::path& modelFile, int threads = 0,
                                                std::optional<EncoderAttention> attention = std::nullopt);
    // Bytes of memory that can still be had (available plus free swap) as meminfo tells; nothing if unknown.
    static std::optional<std::uint64_t> availableMemory(const std::filesystem::path& meminfo = "/proc/meminfo");
    // The most decoding threads: 1, or 2 when OMP_WAIT_POLICY=passive was set before the program started.
    static int defaultThreads();
    // Keeps the engine's log off stderr, for every model it loads.
    static void silenceEngineLog();

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

private:
    struct Deleter {
        void operator()(whisper_context* context) const;
    };

    WhisperContext(std::unique_ptr<whisper_context, Deleter> context, int threads, EncoderAttention attention);
    static std::shared_ptr<WhisperContext> loadWith(const std::filesystem::path& modelFile, int threads,
                                                    EncoderAttention attention);

    std::unique_ptr<whisper_context, Deleter> m_context;
    int m_threads;
    EncoderAttention m_attention;
    ProcessorLoadGauge m_load;
};

} // namespace tc
