#include "TranscriptionInfrastructure/FoundationModelsConversationResponder.h"

#include "TranscriptionDomain/ConversationCitationReconciler.h"
#include "TranscriptionInfrastructure/LanguageModel.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>

namespace tc {

namespace {

constexpr const char* kNoConversation = "まだ会話がありません。";
constexpr const char* kPreparing = "AIモデルの準備中です。しばらくしてからお試しください。";
constexpr const char* kNoModel =
    "AIモデルがインストールされていません。scripts/install-models を実行してからお試しください。";
constexpr const char* kUnsupported =
    "このコンピュータではAIモデルを実行できません（メモリが足りません）。より小さなモデルを指定してください。";
constexpr const char* kUnavailable = "オンデバイスAIが利用できません。";
constexpr const char* kUnreadableReply = "AIの回答を読み取れませんでした。もう一度お試しください。";

const char* reasonFor(LanguageModel::Availability availability)
{
    switch (availability) {
    case LanguageModel::Availability::available: return "";
    case LanguageModel::Availability::preparing: return kPreparing;
    case LanguageModel::Availability::noModel: return kNoModel;
    case LanguageModel::Availability::unsupported: return kUnsupported;
    case LanguageModel::Availability::failed: return kUnavailable;
    }
    return kUnavailable;
}

// Builds the schema text once; descriptions are part of what the model reads.
std::string makeReplySchema(std::size_t lineCount)
{
    nlohmann::ordered_json answer{
        {"type", "string"},
        {"description", "会話の内容だけを根拠にした、簡潔な日本語の回答。会話に無いことは答えない。"},
        // Keeps a wandering small model from running out of tokens before the JSON closes.
        {"maxLength", 400},
    };
    nlohmann::ordered_json sources{
        {"type", "array"},
        {"description", "回答の根拠にした発言の番号（会話に付した1始まりの番号）。無ければ空。"},
        // Only numbers of lines that exist can be cited.
        {"items", {{"type", "integer"}, {"minimum", 1}, {"maximum", std::max<std::size_t>(lineCount, 1)}}},
        {"maxItems", 20},
    };
    nlohmann::ordered_json schema{
        {"type", "object"},
        {"properties", {{"answer", answer}, {"sources", sources}}},
        {"required", {"answer", "sources"}},
        {"additionalProperties", false},
    };
    return schema.dump();
}

} // namespace

FoundationModelsConversationResponder::FoundationModelsConversationResponder(std::shared_ptr<LanguageModel> model)
    : m_model(std::move(model))
{}

const std::string& FoundationModelsConversationResponder::instructions()
{
    static const std::string text =
        "あなたは、進行中の会話の記録だけを根拠に答えるアシスタントです。\n"
        "与えられた会話（番号つきの発言）のみを使って、簡潔な日本語で答えてください。\n"
        "会話に書かれていないことは推測せず、「会話に出ていません／分かりません」と答えてください。\n"
        "回答の根拠にした発言があれば、その番号を sources に入れてください。根拠が無ければ sources は空にします。";
    return text;
}

std::string FoundationModelsConversationResponder::replySchema(std::size_t lineCount)
{
    return makeReplySchema(lineCount);
}

std::string FoundationModelsConversationResponder::prompt(const std::string& question,
                                                          const ConversationExcerpt& excerpt)
{
    std::string text = "会話:\n";
    std::size_t number = 1;
    for (const auto& line : excerpt.lines()) {
        text += std::to_string(number++);
        text += ": ";
        text += line.text;
        text += '\n';
    }
    text += "\n質問: ";
    text += question;
    return text;
}

ConversationAnswer FoundationModelsConversationResponder::answerFromReply(const std::string& replyJson,
                                                                          const ConversationExcerpt& excerpt)
{
    const auto reply = nlohmann::json::parse(replyJson, nullptr, false);
    if (reply.is_discarded() || !reply.is_object() || !reply.contains("answer") || !reply["answer"].is_string() ||
        !reply.contains("sources") || !reply["sources"].is_array())
        throw std::runtime_error(kUnreadableReply);

    std::vector<std::int64_t> numbers;
    for (const auto& source : reply["sources"]) {
        if (source.is_number_unsigned()) {
            const auto value = source.get<std::uint64_t>();
            // Far out of range either way; the reconciler drops it.
            numbers.push_back(value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
                                  ? std::int64_t{0}
                                  : static_cast<std::int64_t>(value));
        } else if (source.is_number_integer()) {
            numbers.push_back(source.get<std::int64_t>());
        } else {
            throw std::runtime_error(kUnreadableReply);
        }
    }
    return ConversationAnswer{reply["answer"].get<std::string>(),
                              ConversationCitationReconciler::resolveIDs(numbers, excerpt)};
}

ConversationResponderAvailability FoundationModelsConversationResponder::availability()
{
    const auto state = m_model->availability();
    if (state == LanguageModel::Availability::available) return ConversationResponderAvailability::available();
    return ConversationResponderAvailability::unavailable(reasonFor(state));
}

ConversationAnswer FoundationModelsConversationResponder::answer(const std::string& question,
                                                                 const ConversationExcerpt& excerpt,
                                                                 std::stop_token stop)
{
    if (excerpt.isEmpty()) return ConversationAnswer{kNoConversation, {}};
    std::string reply;
    try {
        reply = m_model->respond(instructions(), prompt(question, excerpt), replySchema(excerpt.lines().size()), stop);
    } catch (const LanguageModelError& error) {
        if (error.kind() != LanguageModelError::Kind::unavailable) throw;
        // Say why, as the question field would.
        const auto state = m_model->availability();
        throw LanguageModelError(error.kind(),
                                 state == LanguageModel::Availability::available ? kUnavailable : reasonFor(state));
    }
    return answerFromReply(reply, excerpt);
}

} // namespace tc
