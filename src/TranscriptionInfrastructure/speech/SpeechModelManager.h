#pragma once

#include "TranscriptionInfrastructure/models/ModelCatalogue.h"
#include "TranscriptionInfrastructure/speech/WhisperModelFileCheck.h"

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tc {

// The speech models on this computer: the catalogue of official files, where they are installed, and whether
// an installed file is the published one. A file is checked before its first use, by the catalogue's SHA-1 or
// SHA-256, or by the SHA-256 the host reported when the installer downloaded it; the verdict is kept by size,
// modification and change time, so later starts need no re-read while any change to the file, even one that
// restores its modification time, is checked again. A file that fails the check is never used. The catalogue is
// read once, at construction. Thread-safe: one mutex guards the verdict cache.
class SpeechModelManager {
public:
    // A model file ready to load, or why there is none (a Japanese message naming the install command).
    using Lookup = Expected<std::filesystem::path, std::string>;

    SpeechModelManager();
    SpeechModelManager(std::filesystem::path modelsDirectory, std::filesystem::path catalogueFile);

    // AppPaths::modelsDirectory() of this process.
    static std::filesystem::path defaultModelsDirectory();
    // AppPaths::catalogueFile() of this process.
    static std::filesystem::path defaultCatalogueFile();
    // The model used when none is named.
    static std::string defaultModelName();
    // The command that installs the model with this program's own installer, e.g.
    // "python3 '/usr/share/transcription-corvane/install-models' --speech-model base".
    static std::string installCommand(const std::string& name);
    // Done when the file opens; otherwise what keeps it from being opened: missing, not a regular file, unreadable.
    static Expected<void, WhisperModelFileCheck::Failure> accessProblem(const std::filesystem::path& file);
    // The Japanese message for a model file's problem, naming the file and its fix (install, permissions).
    static std::string problemMessage(const std::string& name, const std::filesystem::path& file,
                                      const WhisperModelFileCheck::Failure& failure);
    // The Japanese message for a model that does not fit in memory, with both sizes and what to do.
    static std::string memoryMessage(const std::string& name, const std::filesystem::path& file, std::uint64_t needed,
                                     std::uint64_t available);
    // "base" for ".../ggml-base.bin".
    static std::string modelNameOf(const std::filesystem::path& file);

    const std::filesystem::path& modelsDirectory() const { return m_modelsDirectory; }
    // The catalogue's speech models in its order; empty when it cannot be read.
    const std::vector<CatalogueModel>& catalogue() const;
    std::optional<CatalogueModel> find(const std::string& name) const;
    // Names of catalogue models whose file is present (not yet verified), in catalogue order.
    std::vector<std::string> presentModels() const;
    // The verified file of the model, checking it first when its size or time changed since the last check.
    Lookup locate(const std::string& name);
    // Computes the SHA-1 of a file as lower-case hexadecimal; nothing when it cannot be read.
    static std::optional<std::string> sha1Of(const std::filesystem::path& file);
    // Whether the model's file is installed and passes its check, without the messages of locate().
    bool isVerified(const std::string& name);
    // The catalogue's voice model (the Silero file that tells a voice from other sound) when it is installed and
    // its SHA-256 matches; nothing otherwise. Small enough to check on every call.
    std::optional<std::filesystem::path> voiceModel() const;
    // Where the catalogue's voice model belongs, installed or not; nothing when the catalogue names none.
    std::optional<std::filesystem::path> voiceModelFile() const;
    // The Japanese notice for a voice model that cannot be used: why a reinstall failed (the first line of the
    // installer's reason), that loudness alone cuts the speech, and the install command of the speech model, which
    // brings the voice model with it.
    static std::string voiceModelMessage(const std::string& speechModelName, const std::filesystem::path& file,
                                         const std::optional<std::string>& installFailure = std::nullopt);
    // The Japanese notice shown while a missing or damaged voice model is installed again.
    static std::string voiceModelReinstallNotice(const std::filesystem::path& file);

private:
    struct VoiceModelEntry {
        std::filesystem::path file;
        std::string sha256;
    };
    std::optional<VoiceModelEntry> voiceModelEntry() const;
    bool verify(const CatalogueModel& model, const std::filesystem::path& file);
    std::filesystem::path cacheFile() const;

    std::filesystem::path m_modelsDirectory;
    std::filesystem::path m_catalogueFile;
    ModelCatalogue m_catalogue;
    std::mutex m_mutex;
};

} // namespace tc
