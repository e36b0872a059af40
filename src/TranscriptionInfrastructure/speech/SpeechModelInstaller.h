#pragma once

#include <cstdint>
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
    bool installable = false; // the installer has a verified source for it
};

// Installs and removes speech models with the same installer and checks as scripts/install-models. One
// install at a time per installer; a failed or cancelled install leaves nothing where the app would load a
// model. Callbacks come on a worker thread. Thread-safe.
class SpeechModelInstaller {
public:
    struct Progress {
        std::uint64_t done = 0;  // bytes so far
        std::uint64_t total = 0; // 0 while unknown
        std::string phase;       // Japanese, e.g. "ダウンロード中", "検証中"
    };
    using ProgressCallback = std::function<void(const Progress&)>;
    // Nothing when the model was installed and verified, otherwise the Japanese reason ("キャンセルしました" after cancel()).
    using DoneCallback = std::function<void(const std::optional<std::string>& error)>;

    SpeechModelInstaller();
    ~SpeechModelInstaller(); // cancels and waits for a running install

    // The catalogue's models in its order with their state here; empty when the catalogue cannot be read.
    std::vector<SpeechModelEntry> models() const;
    // Starts installing in the background; false (and no callback) when an install is already running.
    bool install(const std::string& modelName, ProgressCallback onProgress, DoneCallback onDone);
    // Stops a running install; its DoneCallback still comes. Harmless when none runs.
    void cancel();
    bool isInstalling() const;
    // Deletes an installed model's file; nothing on success, otherwise the Japanese reason.
    std::optional<std::string> remove(const std::string& modelName);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace tc
