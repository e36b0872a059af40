#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tc {

// How an installed copy of a model is proven to be the published file.
enum class ModelCheck {
    sha1,       // the SHA-1 whisper.cpp publishes, in the catalogue
    sha256,     // a SHA-256 in the catalogue
    hostSha256, // the SHA-256 the host reported at download time, kept in the installer's record
    none,       // nothing: the model cannot be installed or used
};

// One model of the catalogue.
struct CatalogueModel {
    std::string name;        // "base", "gemma-3-270m-q4_k_m"
    std::string fileName;    // "ggml-base.bin": a bare name inside the models folder
    std::uint64_t bytes = 0; // published size; 0 when unknown
    ModelCheck check = ModelCheck::none;
    std::string digest;            // lower-case hexadecimal for sha1 / sha256; empty otherwise
    bool downloadable = false;     // the catalogue names a host that serves it
    bool instructionTuned = false; // language models: follows instructions
    bool chatTemplate = false;     // language models: carries a chat template

    friend bool operator==(const CatalogueModel&, const CatalogueModel&) = default;
};

// data/models.json, read once at construction: the speech models (whisper.cpp), the voice model (Silero) and the
// language models (llama.cpp), each section with its default. Entries without a name, or whose file would lie
// outside the models folder, are skipped. Immutable, so safe to share between threads.
class ModelCatalogue {
public:
    enum class Section { speech, voice, language };

    // An unreadable or malformed file gives an empty catalogue (loaded() false).
    explicit ModelCatalogue(std::filesystem::path file);

    const std::filesystem::path& file() const { return m_file; }
    // Whether the file was read and parsed.
    bool loaded() const { return m_loaded; }
    // The section's models in the catalogue's order.
    const std::vector<CatalogueModel>& models(Section section) const;
    std::optional<CatalogueModel> find(Section section, const std::string& name) const;
    // The section's default model's name; empty when none is named.
    const std::string& defaultName(Section section) const;
    // The section's default model; nothing when it names none or names one it does not list.
    std::optional<CatalogueModel> defaultModel(Section section) const;

private:
    struct Part {
        std::string defaultName;
        std::vector<CatalogueModel> models;
    };
    const Part& part(Section section) const;

    std::filesystem::path m_file;
    bool m_loaded = false;
    Part m_speech;
    Part m_voice;
    Part m_language;
};

} // namespace tc
