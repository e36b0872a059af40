#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace tc {

// What a GGUF file's header says, read without loading the model: whether it is GGUF at all, whether its
// tensors fit in the file, and whether it carries a chat template (an instruction-tuned model does).
// Reads the metadata only (a few megabytes at most); safe on any file.
class GgufModelFile {
public:
    enum class Format {
        gguf,
        // Missing or unreadable.
        unreadable,
        // Another kind of file.
        notGguf,
        // Cut short (an interrupted download) or with a broken header.
        truncated,
    };

    struct Inspection {
        Format format = Format::unreadable;
        std::uintmax_t fileBytes = 0;
        // The tokenizer.chat_template entry is present and not empty.
        bool hasChatTemplate = false;
        // general.architecture ("gemma3", "qwen2", …); empty when absent.
        std::string architecture;

        friend bool operator==(const Inspection&, const Inspection&) = default;
    };

    static Inspection inspect(const std::filesystem::path& file);
};

} // namespace tc
