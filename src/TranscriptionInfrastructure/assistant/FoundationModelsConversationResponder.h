#pragma once

#include "TranscriptionApplication/ConversationResponder.h"
#include "TranscriptionDomain/Expected.h"
#include "TranscriptionInfrastructure/assistant/ExtractiveAnswerer.h"
#include "TranscriptionInfrastructure/assistant/LanguageModel.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tc {

// Answers questions about the conversation from the numbered lines of the excerpt only. An instruction-tuned
// model (one with a chat template) writes the answer under the reply schema, from what ModelUse shows it; without
// one (no model, a base model, a broken file) the answer quotes the lines that match the question best, or says
// the conversation does not mention it. Always available: the note says which of the two answers. Keeps no state
// between questions; thread-safe as long as the model and the answerer are.
class FoundationModelsConversationResponder final : public ConversationResponder {
public:
    // What an instruction-tuned model is shown and decides.
    enum class ModelUse {
        // Every line; it names its sources, the quotes' ranking names them when it does not.
        wholeExcerpt,
        // The quotes' shortlist only (numbers as in the excerpt); it may cite those lines alone, or refuse.
        shortlist,
        // The quotes answer when the ranker is sure; the model picks from the shortlist only when it is not.
        shortlistWhenQuotesRefuse,
        // The quotes decide the lines and the refusals; the model only words the answer from the lines they cite.
        wordingTheQuotes,
        // As wordingTheQuotes where the quotes cite; where they refuse, the model picks from the shortlist and the
        // pick stands only when a yes/no check on the model says its line answers the question.
        wordingTheQuotesOrCheckedPick,
    };

    // A null answerer gets one with MeCab and the measured threshold.
    explicit FoundationModelsConversationResponder(std::shared_ptr<LanguageModel> model,
                                                   std::shared_ptr<ExtractiveAnswerer> extractive = {},
                                                   ModelUse use = ModelUse::wordingTheQuotesOrCheckedPick);

    // Cheap, never loads the model: available, with a note on how answers are made and why.
    ConversationResponderAvailability availability() override;
    // An empty excerpt is answered at once without the model; otherwise one fresh model session, or quotes
    // when there is no usable model or it fails. Throws only when stop is requested.
    ConversationAnswer answer(const std::string& question, const ConversationExcerpt& excerpt,
                              std::stop_token stop = {}) override;

    // The fixed instructions given to every session.
    static const std::string& instructions();
    // The prompt for one question: the numbered lines, an empty line, then the question.
    static std::string prompt(const std::string& question, const ConversationExcerpt& excerpt);
    // The JSON schema of the reply, with the descriptions the model is guided by and nothing more.
    static std::string replySchema();
    // The instructions when the model sees the shortlist only.
    static const std::string& shortlistInstructions();
    // The shortlist's lines in the excerpt's order under their excerpt numbers, then the question.
    static std::string shortlistPrompt(const std::string& question, const ConversationExcerpt& excerpt,
                                       const std::vector<std::int64_t>& shortlist);
    // The reply schema with sources limited to the shortlist's numbers, at most two of them.
    static std::string shortlistSchema(const std::vector<std::int64_t>& shortlist);
    // The instructions when the model words the answer of the lines the quotes cite.
    static const std::string& wordingInstructions();
    // The answer from the reply's JSON text, or why it cannot be read (Japanese) when it does not fit the schema.
    static Expected<ConversationAnswer, std::string> answerFromReply(const std::string& replyJson,
                                                                     const ConversationExcerpt& excerpt);
    // The answer from a reply cut short by the token or time limit: the text written so far ending in "…",
    // and the line numbers completed before the cut. A failure when not a character of the answer was written.
    static Expected<ConversationAnswer, std::string> answerFromCutReply(const std::string& replyJson,
                                                                        const ConversationExcerpt& excerpt);

    // The model answering the questions.
    const std::shared_ptr<LanguageModel>& model() const { return m_model; }

private:
    // answerFromReply or answerFromCutReply, as the reply was cut.
    static Expected<ConversationAnswer, std::string> answerFrom(const LanguageModel::Reply& reply,
                                                                const ConversationExcerpt& excerpt);
    // The steps that ask the model: a reply outside the schema is a failure, after which answer() falls back on
    // the quotes alone; the model's LanguageModelError passes through. The quotes stand in where the reply
    // says nothing.
    Expected<ConversationAnswer, std::string>
    answerUsingModel(const std::string& question, const ConversationExcerpt& excerpt, std::stop_token stop);
    Expected<ConversationAnswer, std::string> answerWithModel(const std::string& question,
                                                              const ConversationExcerpt& excerpt, std::stop_token stop);
    // Nothing when the quotes answer without the model.
    Expected<std::optional<ConversationAnswer>, std::string>
    answerFromShortlist(const std::string& question, const ConversationExcerpt& excerpt,
                        const ExtractiveAnswerer::Ranking& ranking, std::stop_token stop);
    Expected<std::optional<ConversationAnswer>, std::string>
    answerWordingTheQuotes(const std::string& question, const ConversationExcerpt& excerpt,
                           const std::vector<std::int64_t>& cited, std::stop_token stop);
    // Whether the model rates the line as answering the question (the yes/no check).
    bool checkPasses(const std::string& question, const ConversationExcerpt& excerpt, const Uuid& lineID,
                     std::stop_token stop);

    std::shared_ptr<LanguageModel> m_model;
    std::shared_ptr<ExtractiveAnswerer> m_extractive;
    ModelUse m_use;
};

} // namespace tc
