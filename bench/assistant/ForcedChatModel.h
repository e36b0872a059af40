#pragma once

#include "TranscriptionInfrastructure/assistant/LanguageModel.h"

#include <memory>

namespace tc::bench {

// Presents a base model as instruction-tuned, to show what its own answers would be; everything else passes through.
class ForcedChatModel final : public LanguageModel {
public:
    explicit ForcedChatModel(std::shared_ptr<LanguageModel> model);

    // Always available, whatever the file is.
    Availability availability() override;
    std::string fileName() const override;
    Reply respond(const std::string& instructions, const std::string& prompt, const std::string& schema,
                  std::stop_token stop) override;
    double probabilityOfYes(const std::string& instructions, const std::string& prompt, const std::string& yes,
                            const std::string& no, std::stop_token stop) override;

private:
    std::shared_ptr<LanguageModel> m_model;
};

} // namespace tc::bench
