#include "TranscriptionInfrastructure/assistant/ChosenLanguageModel.h"

namespace tc {

ChosenLanguageModel::ChosenLanguageModel(std::shared_ptr<LanguageModel> initial, Factory factory)
    : m_factory(std::move(factory)), m_model(std::move(initial))
{}

void ChosenLanguageModel::choose(const std::filesystem::path& file)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_chosen == file) return;
    }
    // Built outside the lock: a request asking for the current model meanwhile gets the old one.
    auto model = m_factory(file);
    std::lock_guard lock(m_mutex);
    m_model = std::move(model);
    m_chosen = file;
}

std::shared_ptr<LanguageModel> ChosenLanguageModel::current() const
{
    std::lock_guard lock(m_mutex);
    return m_model;
}

LanguageModel::Availability ChosenLanguageModel::availability()
{
    return current()->availability();
}

std::string ChosenLanguageModel::fileName() const
{
    return current()->fileName();
}

LanguageModel::Reply ChosenLanguageModel::respond(const std::string& instructions, const std::string& prompt,
                                                  const std::string& jsonSchema, std::stop_token stop)
{
    // The request keeps its model alive even when another choice replaces it meanwhile.
    const auto model = current();
    return model->respond(instructions, prompt, jsonSchema, stop);
}

double ChosenLanguageModel::probabilityOfYes(const std::string& instructions, const std::string& prompt,
                                             const std::string& yes, const std::string& no, std::stop_token stop)
{
    const auto model = current();
    return model->probabilityOfYes(instructions, prompt, yes, no, stop);
}

} // namespace tc
