#pragma once

#include "TranscriptionApplication/ConversationResponder.h"

#include <cstddef>
#include <memory>
#include <string>

namespace tc {

class LanguageModel;

// Answers questions about the conversation with the local language model, from the numbered lines of the
// excerpt only, and maps the cited numbers back to line ids. Keeps no state between questions; thread-safe as
// long as the model is.
class FoundationModelsConversationResponder final : public ConversationResponder {
public:
    explicit FoundationModelsConversationResponder(std::shared_ptr<LanguageModel> model);

    // Read anew on every call.
    ConversationResponderAvailability availability() override;
    // An empty excerpt is answered at once without the model; otherwise one fresh model session.
    ConversationAnswer answer(const std::string& question, const ConversationExcerpt& excerpt,
                              std::stop_token stop = {}) override;

    // The fixed instructions given to every session.
    static const std::string& instructions();
    // The prompt for one question: the numbered lines, an empty line, then the question.
    static std::string prompt(const std::string& question, const ConversationExcerpt& excerpt);
    // The JSON schema of the reply for an excerpt of that many lines, with the descriptions the model is
    // guided by.
    static std::string replySchema(std::size_t lineCount);
    // The answer from the reply's JSON text; throws (Japanese what()) when it does not fit the schema.
    static ConversationAnswer answerFromReply(const std::string& replyJson, const ConversationExcerpt& excerpt);

    // The model answering the questions.
    const std::shared_ptr<LanguageModel>& model() const { return m_model; }

private:
    std::shared_ptr<LanguageModel> m_model;
};

} // namespace tc
