#pragma once

#include "TranscriptionInfrastructure/assistant/LanguageModel.h"

#include <memory>

namespace tc::bench {

// Hands every call to the model it wraps; the bench's wrappers change only what they are for.
class PassThroughModel : public LanguageModel {
public:
    explicit PassThroughModel(std::shared_ptr<LanguageModel> model) : m_model(std::move(model)) {}

    Availability availability() override { return m_model->availability(); }
    std::string fileName() const override { return m_model->fileName(); }
    Reply respond(const std::string& instructions, const std::string& prompt, const std::string& schema,
                  std::stop_token stop) override
    {
        return m_model->respond(instructions, prompt, schema, stop);
    }
    double probabilityOfYes(const std::string& instructions, const std::string& prompt, const std::string& yes,
                            const std::string& no, std::stop_token stop) override
    {
        return m_model->probabilityOfYes(instructions, prompt, yes, no, stop);
    }

protected:
    std::shared_ptr<LanguageModel> m_model;
};

} // namespace tc::bench
