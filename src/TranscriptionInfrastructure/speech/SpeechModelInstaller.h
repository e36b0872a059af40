#pragma once

#include "TranscriptionDomain/Expected.h"
#include "TranscriptionInfrastructure/models/ModelCatalogue.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tc {

// A speech model as the settings list it: catalogue entry, whether this computer has it and whether it can
// be installed from here.
struct SpeechModelEntry {
    std::string name;        // "base"
    std::string fileName;    // "ggml-base.bin"
    std::uint64_t bytes = 0; // published size; 0 when the catalogue does not give it
    bool installed = false;  // the file is present in the models folder
    bool installable = false; // the installer has a verified source for it: the models' host or a registry package
    bool verifiable = false;  // the catalogue gives its checksum, so a copy from elsewhere can go through installFrom()
};

// Installs and removes speech models with the same installer and checks as scripts/install-models, which it runs
// as a child process (its --progress-json lines give the progress). One install at a time per installer; installs
// of one model file from several processes take turns; a failed or cancelled install leaves nothing where the app
// would load a model. Callbacks come on a worker thread and must not wait for the thread that calls cancel() or
// destroys the installer. Thread-safe.
class SpeechModelInstaller {
public:
    struct Progress {
        std::uint64_t done = 0;  // bytes so far
        std::uint64_t total = 0; // 0 while unknown
        std::string phase;       // Japanese, e.g. "ダウンロード中", "検証中"
    };
    using ProgressCallback = std::function<void(const Progress&)>;
    // Done when the model was installed and verified, otherwise the Japanese reason ("キャンセルしました" after
    // cancel()).
    using DoneCallback = std::function<void(const Expected<void, std::string>& outcome)>;

    // Where installs go and what they run.
    struct Setup {
        std::filesystem::path installer;       // the install-models script
        std::filesystem::path catalogue;       // models.json, checked against by the installer and listed here
        std::filesystem::path modelsDirectory; // where the app loads models from
        std::filesystem::path cacheDirectory;  // downloads are kept under it
    };
    // This process's, from AppPaths.
    static Setup defaultSetup();

    SpeechModelInstaller();
    explicit SpeechModelInstaller(Setup setup);
    ~SpeechModelInstaller(); // cancels and waits for a running install

    // Where this installer's installs go and what they run.
    const Setup& setup() const;

    // The catalogue's models in its order with their state here; empty when the catalogue cannot be read. The
    // first call asks the installer which models it has a source for (a short child process).
    std::vector<SpeechModelEntry> models() const;
    // The same for the catalogue's instruction-tuned language models (GGUF files the questions can use).
    std::vector<SpeechModelEntry> instructionTunedLanguageModels() const;
    // Starts installing in the background, a speech or a language model of the catalogue; false (and no
    // callback) when an install is already running.
    bool install(const std::string& modelName, ProgressCallback onProgress, DoneCallback onDone);
    // Like install(), from a copy of the model file obtained elsewhere (a file or a pipe), under the same checks.
    bool installFrom(const std::string& modelName, const std::filesystem::path& source, ProgressCallback onProgress,
                     DoneCallback onDone);
    // Stops a running install and waits for it (unless called from a callback); its DoneCallback still comes.
    // Harmless when none runs.
    void cancel();
    bool isInstalling() const;
    // Deletes an installed model's file, refused while any process installs it; done, or the Japanese
    // reason.
    Expected<void, std::string> remove(const std::string& modelName);

private:
    // The section's models (language: the instruction-tuned ones) with their state here.
    std::vector<SpeechModelEntry> entries(ModelCatalogue::Section section) const;
    bool start(const std::string& modelName, std::vector<std::string> extraArguments, ProgressCallback onProgress,
               DoneCallback onDone);

    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace tc
