#include "ForcedChatModel.h"

namespace tc::bench {

ForcedChatModel::ForcedChatModel(std::shared_ptr<LanguageModel> model) : m_model(std::move(model)) {}

LanguageModel::Availability ForcedChatModel::availability()
{
    return Availability::available;
}

std::string ForcedChatModel::fileName() const
{
    return m_model->fileName();
}

LanguageModel::Reply ForcedChatModel::respond(const std::string& instructions, const std::string& prompt,
                                              const std::string& schema, std::stop_token stop)
{
    return m_model->respond(instructions, prompt, schema, stop);
}

double ForcedChatModel::probabilityOfYes(const std::string& instructions, const std::string& prompt,
                                         const std::string& yes, const std::string& no, std::stop_token stop)
{
    return m_model->probabilityOfYes(instructions, prompt, yes, no, stop);
}

} // namespace tc::bench
