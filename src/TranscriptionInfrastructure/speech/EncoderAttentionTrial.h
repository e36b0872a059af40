#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tc {

class WhisperContext;

// The engine's two ways to attend over the encoded audio. The flash attention reads whole 256-frame blocks, so a
// decoding encodes its audio rounded up to them; the plain one encodes only the audio.
enum class EncoderAttention { flash, plain };

// Which attention decodes faster on this processor: measured once per processor, engine build, model file and thread
// count, and remembered in a file beside the model: which one pays depends on the processor's kernels. Measured:
// docs/recognition.md, "Eighteenth round". Not thread-safe; the record file is replaced whole, so processes measuring
// at once leave one valid record.
class EncoderAttentionTrial {
public:
    EncoderAttentionTrial(const std::filesystem::path& modelFile, int threads);

    // What was measured before under this processor's key; nothing when never measured or the record is unreadable.
    std::optional<EncoderAttention> remembered() const;
    // Encodes the same silence at a refresh's and two finals' lengths on both, alternating, and remembers the faster
    // (the record is left as it was when it cannot be written). Throws TranscriberError when the engine fails.
    EncoderAttention measure(WhisperContext& flash, WhisperContext& plain) const;
    // The record beside the model ("<models>/.encoder-attention.json").
    const std::filesystem::path& recordFile() const { return m_record; }
    // What the choice is remembered under: processor, processors, engine, threads, model file and size.
    const std::string& key() const { return m_key; }
    // The processor's own name ("AMD EPYC 7B13"); its part number where the kernel gives no name (ARM).
    static std::string processorName();

private:
    void remember(EncoderAttention attention) const;

    std::filesystem::path m_record;
    std::string m_key;
};

} // namespace tc
