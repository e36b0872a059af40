#pragma once

#include "TranscriptionInfrastructure/assistant/LanguageModel.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace tc {

// The language model the user chose, replaceable while the app runs: the next request uses the new choice,
// requests already running finish on the model they began with. Thread-safe (one mutex guards the current model).
class ChosenLanguageModel final : public LanguageModel {
public:
    // Builds the model for a chosen file; an empty path means the installed default.
    using Factory = std::function<std::shared_ptr<LanguageModel>(const std::filesystem::path& chosenFile)>;

    ChosenLanguageModel(std::shared_ptr<LanguageModel> initial, Factory factory);

    // Uses this file (empty: the installed default) from the next request on; choosing the same file again
    // keeps the loaded model.
    void choose(const std::filesystem::path& file);
    // The model answering now.
    std::shared_ptr<LanguageModel> current() const;

    Availability availability() override;
    std::string fileName() const override;
    Reply respond(const std::string& instructions, const std::string& prompt, const std::string& jsonSchema,
                  std::stop_token stop) override;
    double probabilityOfYes(const std::string& instructions, const std::string& prompt, const std::string& yes,
                            const std::string& no, std::stop_token stop) override;

private:
    Factory m_factory;
    mutable std::mutex m_mutex;
    std::shared_ptr<LanguageModel> m_model;
    // Nothing until the first choose(): the initial model came from elsewhere.
    std::optional<std::filesystem::path> m_chosen;
};

} // namespace tc
