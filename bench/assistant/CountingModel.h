#pragma once

#include "TranscriptionInfrastructure/assistant/LanguageModel.h"

#include <memory>

namespace tc::bench {

// Counts what the model was asked to generate and how those replies ended, passing everything through. Not
// thread-safe: the bench asks one question at a time.
class CountingModel final : public LanguageModel {
public:
    explicit CountingModel(std::shared_ptr<LanguageModel> model);

    Availability availability() override;
    std::string fileName() const override;
    // Counted: asked, and cut, timed out or failed as it ended.
    Reply respond(const std::string& instructions, const std::string& prompt, const std::string& schema,
                  std::stop_token stop) override;
    // Not counted.
    double probabilityOfYes(const std::string& instructions, const std::string& prompt, const std::string& yes,
                            const std::string& no, std::stop_token stop) override;

    int asked = 0;
    int cut = 0;
    int timedOut = 0;
    int failed = 0;

private:
    std::shared_ptr<LanguageModel> m_model;
};

} // namespace tc::bench
