#pragma once

#include "TranscriptionInfrastructure/LanguageModel.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

struct llama_model;

namespace tc {

// The language model on llama.cpp with a GGUF file. The model is loaded once, in the background, and kept;
// every respond() gets a fresh context, so nothing carries over between requests. Generation is bounded in
// tokens and time and stops at once when the caller's stop_token fires (llama.cpp's abort callback).
// Thread-safe: one mutex guards the loading state; requests run concurrently on the shared model.
class LlamaLanguageModel final : public LanguageModel {
public:
    struct Options {
        std::filesystem::path modelFile;
        // Expected size from the model catalogue; a file of another size counts as not installed.
        std::optional<std::uintmax_t> expectedBytes;
        int maxReplyTokens = 768;
        std::chrono::milliseconds timeLimit = std::chrono::seconds(120);
        // 0: as many as the machine has, at most 4.
        int threads = 0;
    };

    // The model the user chose (TC_LANGUAGE_MODEL, then the "languageModel/path" setting), otherwise the
    // catalogue's default in $XDG_DATA_HOME/transcription-corvane/models.
    static Options defaultOptions();
    // $XDG_DATA_HOME/transcription-corvane/models (XDG_DATA_HOME defaults to ~/.local/share).
    static std::filesystem::path modelsFolder();

    explicit LlamaLanguageModel(Options options);
    ~LlamaLanguageModel() override;
    LlamaLanguageModel(const LlamaLanguageModel&) = delete;
    LlamaLanguageModel& operator=(const LlamaLanguageModel&) = delete;

    // Starts loading the first time a model file is found and waits up to kAvailabilityWait for it; preparing
    // while it is still loading or being installed.
    Availability availability() override;
    std::string respond(const std::string& instructions, const std::string& prompt, const std::string& jsonSchema,
                        std::stop_token stop) override;

    const Options& options() const { return m_options; }

private:
    enum class LoadState { idle, loading, loaded, failed, unsupported };
    struct FileStamp {
        std::uintmax_t size = 0;
        std::filesystem::file_time_type modified;
        friend bool operator==(const FileStamp&, const FileStamp&) = default;
    };
    static std::optional<FileStamp> fileStamp(const std::filesystem::path& file);

    static constexpr std::chrono::seconds kAvailabilityWait{10};

    Availability availabilityLocked();
    void startLoadingLocked();
    void load(std::stop_token stop);
    // Waits until loading ends; the model, or nothing (then the error to throw is in m_state).
    llama_model* waitForModel(std::stop_token stop, std::chrono::steady_clock::time_point deadline);

    Options m_options;
    std::mutex m_mutex;
    std::condition_variable_any m_loaded;
    LoadState m_state = LoadState::idle;
    // The file as it was when loading was last attempted.
    std::optional<FileStamp> m_attemptedFile;
    struct ModelDeleter {
        void operator()(llama_model* model) const;
    };
    std::unique_ptr<llama_model, ModelDeleter> m_model;
    // Last member: joined first on destruction, before the model goes.
    std::jthread m_loader;
};

} // namespace tc
