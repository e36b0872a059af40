#pragma once

#include "TranscriptionInfrastructure/assistant/LanguageModel.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

struct llama_model;

namespace tc {

// The language model on llama.cpp with a GGUF file. availability() reads the file's header only; the first
// respond() loads the model on the caller's thread (a stop request aborts the load) and later ones reuse it.
// Every respond() gets a fresh context, so nothing carries over between requests. Generation is bounded in
// tokens and time and stops at once when the caller's stop_token fires (llama.cpp's abort callback).
// Thread-safe: one mutex guards the loading state; requests run concurrently on the shared model.
class LlamaLanguageModel final : public LanguageModel {
public:
    struct Options {
        std::filesystem::path modelFile;
        // Expected size from the model catalogue; a file of another size counts as not installed.
        std::optional<std::uintmax_t> expectedBytes;
        int maxReplyTokens = 384;
        // Generation time, the load not included.
        std::chrono::milliseconds timeLimit = std::chrono::seconds(30);
        // 0: as many as the machine has, at most 4.
        int threads = 0;
        // Memory the model may use; 0: the machine's physical memory.
        std::uintmax_t memoryBytes = 0;
        // Called on the requesting thread once per respond(), when the prompt is read and the reply's first token
        // is written: the moment a wait turns from reading to writing.
        std::function<void()> onReplyStarted;
    };

    // The model the user chose (TC_LANGUAGE_MODEL, then the "languageModel/path" setting), otherwise the
    // catalogue's default in modelsFolder().
    static Options defaultOptions();
    // The catalogue's default in modelsFolder(), whatever the user chose.
    static Options installedOptions();
    // The same with this file instead.
    static Options optionsFor(const std::filesystem::path& modelFile);
    // AppPaths::modelsDirectory() of this process.
    static std::filesystem::path modelsFolder();

    explicit LlamaLanguageModel(Options options);
    ~LlamaLanguageModel() override;
    LlamaLanguageModel(const LlamaLanguageModel&) = delete;
    LlamaLanguageModel& operator=(const LlamaLanguageModel&) = delete;

    Availability availability() override;
    std::string fileName() const override;
    Reply respond(const std::string& instructions, const std::string& prompt, const std::string& jsonSchema,
                  std::stop_token stop) override;

    // Their first tokens, the two alone weighed against each other, from one pass over the prompt.
    double probabilityOfYes(const std::string& instructions, const std::string& prompt, const std::string& yes,
                            const std::string& no, std::stop_token stop) override;

    const Options& options() const { return m_options; }
    // Whether the model is in memory now.
    bool isLoaded();

private:
    struct FileStamp {
        std::uintmax_t size = 0;
        std::filesystem::file_time_type modified;
        friend bool operator==(const FileStamp&, const FileStamp&) = default;
    };
    static std::optional<FileStamp> fileStamp(const std::filesystem::path& file);

    Availability availabilityLocked();
    // The loaded model, loading it first when needed; throws LanguageModelError.
    std::shared_ptr<llama_model> acquireModel(std::stop_token stop);

    Options m_options;
    std::mutex m_mutex;
    std::condition_variable_any m_loadEnded;
    bool m_loading = false;
    // The file as last inspected, and what its header said.
    std::optional<FileStamp> m_inspectedFile;
    Availability m_fileState = Availability::noModel;
    // The file whose load failed; not tried again until it changes.
    std::optional<FileStamp> m_failedFile;
    // Shared with the requests using it, so a replaced file never pulls the model from under them.
    std::shared_ptr<llama_model> m_model;
    std::optional<FileStamp> m_modelFile;
};

} // namespace tc
