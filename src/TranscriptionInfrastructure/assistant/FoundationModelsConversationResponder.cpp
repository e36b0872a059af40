#include "TranscriptionInfrastructure/assistant/FoundationModelsConversationResponder.h"

#include "TranscriptionDomain/ConversationCitationReconciler.h"
#include "TranscriptionDomain/Utf8.h"
#include "TranscriptionInfrastructure/assistant/ExtractiveAnswerer.h"
#include "TranscriptionInfrastructure/assistant/LanguageModel.h"
#include "TranscriptionInfrastructure/assistant/MecabTokenizer.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>

namespace tc {

namespace {

constexpr const char* kNoConversation = "まだ会話がありません。";
constexpr const char* kUnreadableReply = "AIの回答を読み取れませんでした。もう一度お試しください。";
constexpr const char* kCutMark = "…";
constexpr const char* kQuotes = "回答は会話の発言からの引用です。";
constexpr const char* kCheckInstructions =
    "会話の発言が質問の答えになっているかを判断し、「はい」か「いいえ」だけで答えてください。";
// The model is sure of little: P(はい) stays under 0.1 for most lines, right ones included; this lies between the
// unanswerable questions' picks and the right ones. Measured: docs/question-answering.md.
constexpr double kPickKeptFromYes = 0.18;
constexpr const char* kHowToUseModel =
    "AIに文章で答えさせるには、「設定…」の「言語モデル」で指示チューニング済みのモデルをインストールして「使用する」を"
    "押すか、指示に従うよう調整された GGUF モデル（名前に -it や -Instruct が付くもの）を選んでください。次の質問から"
    "使われます。";

std::string noteFor(LanguageModel::Availability state, const std::string& file)
{
    using A = LanguageModel::Availability;
    const std::string model = "AIモデル " + file;
    switch (state) {
    case A::available:
        return "ベータ機能です。質問に合う会話の発言を選び、" + model +
               " がその発言だけを根拠に文章で答えます。合う発言が無いときは「会話に出ていません。」と答えます。最初の"
               "質問ではモデルの読み込みに少し時間がかかります。";
    case A::loading: return model + " を読み込んでいます…";
    case A::baseModel:
        return std::string(kQuotes) + model + " は指示に従うよう調整されていないため使っていません。" + kHowToUseModel;
    case A::preparing: return std::string(kQuotes) + "AIモデルをインストールしています。終わるまでは引用で答えます。";
    case A::noModel: return std::string(kQuotes) + "AIモデルが見つからないため、引用で答えます。" + kHowToUseModel;
    case A::notModelFile:
        return std::string(kQuotes) + model + " は GGUF 形式のモデルではないため使えません。" + kHowToUseModel;
    case A::damaged:
        return std::string(kQuotes) + model +
               " は壊れているか途中までしかないため使えません。ファイルを入れ直すか、別のモデルを指定してください。";
    case A::unsupported:
        return std::string(kQuotes) + model +
               " はこのコンピュータのメモリには大きすぎるため使えません。より小さなモデル（1B〜4B の Q4_K_M など）"
               "を指定してください。";
    }
    return kQuotes;
}

bool usesModel(LanguageModel::Availability state)
{
    return state == LanguageModel::Availability::available || state == LanguageModel::Availability::loading;
}

// The model said the conversation does not tell; its empty citation list is then meant.
bool refuses(const std::string& answer)
{
    for (const char* phrase : {"出ていません", "分かりません", "わかりません", "ありません"})
        if (answer.find(phrase) != std::string::npos) return true;
    return false;
}

// The line numbers of the reply's sources; nothing when one is not a whole number.
std::optional<std::vector<std::int64_t>> numbersIn(const nlohmann::json& sources)
{
    std::vector<std::int64_t> numbers;
    for (const auto& source : sources) {
        if (source.is_number_unsigned()) {
            const auto value = source.get<std::uint64_t>();
            // Far out of range either way; the reconciler drops it.
            numbers.push_back(value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
                                  ? std::int64_t{0}
                                  : static_cast<std::int64_t>(value));
        } else if (source.is_number_integer()) {
            numbers.push_back(source.get<std::int64_t>());
        } else {
            return std::nullopt;
        }
    }
    return numbers;
}

// Drops a UTF-8 sequence left unfinished at the end of the text.
void dropUnfinishedCharacter(std::string& text)
{
    std::size_t i = text.size();
    int continuation = 0;
    while (i > 0 && Utf8::isContinuationByte(text[i - 1]) && continuation < 3) {
        --i;
        ++continuation;
    }
    if (i == 0) return;
    const auto lead = static_cast<unsigned char>(text[i - 1]);
    const int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 1;
    if (lead >= 0x80 && continuation + 1 < length) text.resize(i - 1);
}

std::size_t skipSpaces(const std::string& text, std::size_t i)
{
    while (i < text.size() && (text[i] == ' ' || text[i] == '\n' || text[i] == '\t' || text[i] == '\r'))
        ++i;
    return i;
}

} // namespace

FoundationModelsConversationResponder::FoundationModelsConversationResponder(
    std::shared_ptr<LanguageModel> model, std::shared_ptr<ExtractiveAnswerer> extractive, ModelUse use)
    : m_model(std::move(model)), m_extractive(std::move(extractive)), m_use(use)
{
    if (!m_extractive) m_extractive = std::make_shared<ExtractiveAnswerer>(std::make_shared<MecabTokenizer>());
}

const std::string& FoundationModelsConversationResponder::instructions()
{
    static const std::string text =
        "あなたは、進行中の会話の記録だけを根拠に答えるアシスタントです。\n"
        "与えられた会話（番号つきの発言）のみを使って、簡潔な日本語で答えてください。\n"
        "会話に書かれていないことは推測せず、「会話に出ていません／分かりません」と答えてください。\n"
        "回答の根拠にした発言があれば、その番号を sources に入れてください。根拠が無ければ sources は空にします。";
    return text;
}

std::string FoundationModelsConversationResponder::replySchema()
{
    static const std::string schema = [] {
        nlohmann::ordered_json answer{
            {"type", "string"},
            {"description", "会話の内容だけを根拠にした、簡潔な日本語の回答。会話に無いことは答えない。"},
        };
        nlohmann::ordered_json sources{
            {"type", "array"},
            {"description", "回答の根拠にした発言の番号（会話に付した1始まりの番号）。無ければ空。"},
            {"items", {{"type", "integer"}}},
        };
        nlohmann::ordered_json root{
            {"type", "object"},
            {"properties", {{"answer", answer}, {"sources", sources}}},
            {"required", {"answer", "sources"}},
            {"additionalProperties", false},
        };
        return root.dump();
    }();
    return schema;
}

const std::string& FoundationModelsConversationResponder::shortlistInstructions()
{
    static const std::string text =
        "会話から選んだ発言（番号つき）だけを根拠に、質問に簡潔な日本語で答えてください。\n"
        "答えになる発言の番号を sources に入れます。\n"
        "どの発言にも答えが無ければ、推測せずに answer を「会話に出ていません。」、sources を空にしてください。";
    return text;
}

const std::string& FoundationModelsConversationResponder::wordingInstructions()
{
    static const std::string text = "会話の発言（番号つき）を根拠に、質問に簡潔な日本語で答えてください。\n"
                                    "発言に書かれていないことは加えません。答えになる発言の番号を sources に入れます。";
    return text;
}

std::string FoundationModelsConversationResponder::shortlistPrompt(const std::string& question,
                                                                   const ConversationExcerpt& excerpt,
                                                                   const std::vector<std::int64_t>& shortlist)
{
    // In the conversation's order: a reply and the line it answers read as they were said.
    auto inOrder = shortlist;
    std::sort(inOrder.begin(), inOrder.end());
    std::string text = "会話から選んだ発言:\n";
    for (const auto number : inOrder) {
        if (number < 1 || number > static_cast<std::int64_t>(excerpt.lines().size())) continue;
        text += std::to_string(number) + ": " + excerpt.lines()[static_cast<std::size_t>(number - 1)].text + '\n';
    }
    text += "\n質問: ";
    text += question;
    return text;
}

std::string FoundationModelsConversationResponder::shortlistSchema(const std::vector<std::int64_t>& shortlist)
{
    // No descriptions: the instructions say what the fields hold, and every token of the prompt costs time on a
    // small machine. The grammar cannot cite a line the model was not shown.
    nlohmann::ordered_json sources{
        {"type", "array"}, {"items", {{"type", "integer"}, {"enum", shortlist}}}, {"maxItems", 2}};
    nlohmann::ordered_json schema{
        {"type", "object"},
        {"properties", {{"answer", {{"type", "string"}}}, {"sources", sources}}},
        {"required", {"answer", "sources"}},
        {"additionalProperties", false},
    };
    return schema.dump();
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

Expected<ConversationAnswer, std::string>
FoundationModelsConversationResponder::answerFromReply(const std::string& replyJson, const ConversationExcerpt& excerpt)
{
    const auto reply = nlohmann::json::parse(replyJson, nullptr, false);
    if (reply.is_discarded() || !reply.is_object() || !reply.contains("answer") || !reply["answer"].is_string() ||
        !reply.contains("sources") || !reply["sources"].is_array())
        return Unexpected{std::string(kUnreadableReply)};
    const auto numbers = numbersIn(reply["sources"]);
    if (!numbers) return Unexpected{std::string(kUnreadableReply)};
    return ConversationAnswer{reply["answer"].get<std::string>(),
                              ConversationCitationReconciler::resolveIDs(*numbers, excerpt)};
}

Expected<ConversationAnswer, std::string>
FoundationModelsConversationResponder::answerFromCutReply(const std::string& replyJson,
                                                          const ConversationExcerpt& excerpt)
{
    const auto unreadable = Unexpected{std::string(kUnreadableReply)};
    const auto key = replyJson.find("\"answer\"");
    if (key == std::string::npos) return unreadable;
    std::size_t i = skipSpaces(replyJson, key + 8);
    if (i >= replyJson.size() || replyJson[i] != ':') return unreadable;
    i = skipSpaces(replyJson, i + 1);
    if (i >= replyJson.size() || replyJson[i] != '"') return unreadable;
    ++i;
    std::string raw;
    bool closed = false;
    while (i < replyJson.size()) {
        const char c = replyJson[i];
        if (c == '"') {
            closed = true;
            ++i;
            break;
        }
        const std::size_t length = c != '\\' ? 1 : i + 1 < replyJson.size() && replyJson[i + 1] == 'u' ? 6 : 2;
        if (i + length > replyJson.size()) break;
        raw.append(replyJson, i, length);
        i += length;
    }
    if (!closed) dropUnfinishedCharacter(raw);
    const auto text = nlohmann::json::parse("\"" + raw + "\"", nullptr, false);
    // An ellipsis alone tells the user nothing; the quotes do better.
    if (text.is_discarded() || !text.is_string() || text.get<std::string>().empty()) return unreadable;

    std::vector<std::int64_t> numbers;
    if (closed) {
        // Only the numbers followed by a comma or the closing bracket were written out whole.
        const auto list = replyJson.find('[', i);
        if (list != std::string::npos) {
            std::string digits;
            for (std::size_t k = list + 1; k < replyJson.size(); ++k) {
                const char c = replyJson[k];
                if (c >= '0' && c <= '9') {
                    digits += c;
                } else if ((c == ',' || c == ']') && !digits.empty() && digits.size() < 10) {
                    numbers.push_back(std::stoll(digits));
                    digits.clear();
                } else {
                    digits.clear();
                }
            }
        }
    }
    return ConversationAnswer{text.get<std::string>() + kCutMark,
                              ConversationCitationReconciler::resolveIDs(numbers, excerpt)};
}

ConversationResponderAvailability FoundationModelsConversationResponder::availability()
{
    return ConversationResponderAvailability::available(noteFor(m_model->availability(), m_model->fileName()));
}

ConversationAnswer FoundationModelsConversationResponder::answer(const std::string& question,
                                                                 const ConversationExcerpt& excerpt,
                                                                 std::stop_token stop)
{
    if (excerpt.isEmpty()) return ConversationAnswer{kNoConversation, {}};
    if (usesModel(m_model->availability())) {
        // A model that turns out unusable (it failed to load, gave nothing in time or nothing readable) still
        // leaves the quotes; the note says why from then on.
        try {
            if (auto answer = answerUsingModel(question, excerpt, stop)) return std::move(*answer);
        } catch (const LanguageModelError& error) {
            if (error.kind() == LanguageModelError::Kind::cancelled) throw;
        }
    }
    return m_extractive->answer(question, excerpt);
}

Expected<ConversationAnswer, std::string>
FoundationModelsConversationResponder::answerFrom(const LanguageModel::Reply& reply, const ConversationExcerpt& excerpt)
{
    return reply.cut ? answerFromCutReply(reply.json, excerpt) : answerFromReply(reply.json, excerpt);
}

Expected<ConversationAnswer, std::string>
FoundationModelsConversationResponder::answerUsingModel(const std::string& question, const ConversationExcerpt& excerpt,
                                                        std::stop_token stop)
{
    if (m_use == ModelUse::wholeExcerpt) return answerWithModel(question, excerpt, stop);
    // Ranked once: the quotes, the shortlist and the fallback all come from it.
    const auto ranking = m_extractive->rank(question, excerpt);
    const auto cited = m_extractive->citedLines(ranking);
    const bool wording = m_use == ModelUse::wordingTheQuotes || m_use == ModelUse::wordingTheQuotesOrCheckedPick;
    if (wording && !cited.empty()) {
        auto answer = answerWordingTheQuotes(question, excerpt, cited, stop);
        if (!answer) return Unexpected{std::move(answer).error()};
        if (*answer) return std::move(**answer);
    } else if (m_use != ModelUse::wordingTheQuotes) {
        auto answer = answerFromShortlist(question, excerpt, ranking, stop);
        if (!answer) return Unexpected{std::move(answer).error()};
        if (*answer) return std::move(**answer);
    }
    return ExtractiveAnswerer::answerCiting(cited, excerpt);
}

Expected<ConversationAnswer, std::string>
FoundationModelsConversationResponder::answerWithModel(const std::string& question, const ConversationExcerpt& excerpt,
                                                       std::stop_token stop)
{
    const auto reply = m_model->respond(instructions(), prompt(question, excerpt), replySchema(), stop);
    auto answer = answerFrom(reply, excerpt);
    if (!answer) return answer;
    // A model that answers without naming its lines gets them from the quotes' ranking.
    if (answer->sourceLineIDs.empty() && !refuses(answer->text))
        answer->sourceLineIDs =
            ConversationCitationReconciler::resolveIDs(m_extractive->citedLines(question, excerpt), excerpt);
    return answer;
}

Expected<std::optional<ConversationAnswer>, std::string> FoundationModelsConversationResponder::answerFromShortlist(
    const std::string& question, const ConversationExcerpt& excerpt, const ExtractiveAnswerer::Ranking& ranking,
    std::stop_token stop)
{
    const bool quotesAnswer = !m_extractive->citedLines(ranking).empty();
    if (ranking.shortlist.empty() || (quotesAnswer && m_use != ModelUse::shortlist))
        return std::optional<ConversationAnswer>();
    const auto reply = m_model->respond(shortlistInstructions(), shortlistPrompt(question, excerpt, ranking.shortlist),
                                        shortlistSchema(ranking.shortlist), stop);
    auto answer = answerFrom(reply, excerpt);
    if (!answer) return Unexpected{std::move(answer).error()};
    if (answer->sourceLineIDs.empty() || refuses(answer->text) ||
        (m_use == ModelUse::wordingTheQuotesOrCheckedPick &&
         !checkPasses(question, excerpt, answer->sourceLineIDs.front(), stop)))
        return std::optional(ConversationAnswer{ExtractiveAnswerer::kNotInConversation, {}});
    return std::optional(std::move(answer).value());
}

bool FoundationModelsConversationResponder::checkPasses(const std::string& question, const ConversationExcerpt& excerpt,
                                                        const Uuid& lineID, std::stop_token stop)
{
    const auto& lines = excerpt.lines();
    const auto line = std::find_if(lines.begin(), lines.end(), [&](const auto& l) { return l.id == lineID; });
    if (line == lines.end()) return false;
    // A fresh session that sees the question and the picked line alone, so the pick cannot talk itself right.
    const auto yes = m_model->probabilityOfYes(kCheckInstructions,
                                               "質問: " + question + "\n発言: " + line->text +
                                                   "\n\nこの発言は、この質問の答えを含んでいますか？",
                                               "はい", "いいえ", stop);
    return yes >= kPickKeptFromYes;
}

Expected<std::optional<ConversationAnswer>, std::string> FoundationModelsConversationResponder::answerWordingTheQuotes(
    const std::string& question, const ConversationExcerpt& excerpt, const std::vector<std::int64_t>& cited,
    std::stop_token stop)
{
    // The small models measured here cite and refuse worse than the quoting ranker (docs/question-answering.md): where
    // the ranker cites, it keeps the lines, the model only puts them into an answer.
    const auto reply = m_model->respond(wordingInstructions(), shortlistPrompt(question, excerpt, cited),
                                        shortlistSchema(cited), stop);
    auto answer = answerFrom(reply, excerpt);
    if (!answer) return Unexpected{std::move(answer).error()};
    // The model doubting the ranker's lines leaves the quotes, which at least show what was said.
    if (refuses(answer->text)) return std::optional<ConversationAnswer>();
    answer->sourceLineIDs = ConversationCitationReconciler::resolveIDs(cited, excerpt);
    return std::optional(std::move(answer).value());
}

} // namespace tc
