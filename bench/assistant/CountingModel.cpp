#include "CountingModel.h"

namespace tc::bench {

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

} // namespace tc::bench
