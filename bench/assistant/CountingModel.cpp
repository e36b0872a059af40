#include "CountingModel.h"

namespace tc::bench {

CountingModel::CountingModel(std::shared_ptr<LanguageModel> model) : m_model(std::move(model)) {}

LanguageModel::Availability CountingModel::availability()
{
    return m_model->availability();
}

std::string CountingModel::fileName() const
{
    return m_model->fileName();
}

LanguageModel::Reply CountingModel::respond(const std::string& instructions, const std::string& prompt,
                                            const std::string& schema, std::stop_token stop)
{
    ++asked;
    try {
        auto reply = m_model->respond(instructions, prompt, schema, stop);
        if (reply.cut) ++cut;
        return reply;
    } catch (const LanguageModelError& error) {
        ++(error.kind() == LanguageModelError::Kind::timedOut ? timedOut : failed);
        throw;
    }
}

double CountingModel::probabilityOfYes(const std::string& instructions, const std::string& prompt,
                                       const std::string& yes, const std::string& no, std::stop_token stop)
{
    return m_model->probabilityOfYes(instructions, prompt, yes, no, stop);
}

} // namespace tc::bench
