#include "TranscriptionInfrastructure/assistant/FoundationModelsConversationResponder.h"
#include "TranscriptionInfrastructure/assistant/LanguageModel.h"
#include "support/ConversationSamples.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <deque>
#include <variant>

namespace tc {
namespace {

// Plays back scripted replies, odds or errors and records what it was asked; throws when the script runs out.
class ScriptedLanguageModel final : public LanguageModel {
public:
    struct Request {
        std::string instructions, prompt, schema;
        bool stopPossible = false;
    };

    Availability availability() override { return state; }
    std::string fileName() const override { return "model.gguf"; }
    Reply respond(const std::string& instructions, const std::string& prompt, const std::string& jsonSchema,
                  std::stop_token stop) override
    {
        requests.push_back({instructions, prompt, jsonSchema, stop.stop_possible()});
        return next(script);
    }
    double probabilityOfYes(const std::string& instructions, const std::string& prompt, const std::string& yes,
                            const std::string& no, std::stop_token stop) override
    {
        checks.push_back({instructions, prompt, yes + "/" + no, stop.stop_possible()});
        return next(odds);
    }
    void push(std::string json, bool cut = false) { script.emplace_back(Reply{std::move(json), cut}); }
    void fail(LanguageModelError::Kind kind) { script.emplace_back(LanguageModelError(kind, "失敗")); }

    Availability state = Availability::available;
    std::deque<std::variant<Reply, LanguageModelError>> script;
    std::deque<std::variant<double, LanguageModelError>> odds;
    std::vector<Request> requests, checks;

private:
    template <class T>
    static T next(std::deque<std::variant<T, LanguageModelError>>& queue)
    {
        if (queue.empty()) throw std::logic_error("nothing scripted left");
        auto front = std::move(queue.front());
        queue.pop_front();
        if (auto* error = std::get_if<LanguageModelError>(&front)) throw *error;
        return std::get<T>(front);
    }
};

using test::excerptOf;

const auto threeLines = [] { return excerptOf({"一行目", "二行目", "三行目"}); };

class ResponderFixture : public ::testing::Test {
protected:
    std::vector<Uuid> cites(std::size_t n) const { return {m_launch.lines()[n].id}; }

    std::shared_ptr<ScriptedLanguageModel> m_model = std::make_shared<ScriptedLanguageModel>();
    FoundationModelsConversationResponder m_responder{
        m_model, {}, FoundationModelsConversationResponder::ModelUse::wholeExcerpt};
    const ConversationExcerpt m_launch =
        excerptOf({"おはようございます。今日は新製品の話をします。", "発売日は来月の十五日に決まりました。",
                   "価格は九千八百円にする予定です。", "宣伝は主に動画サイトで行います。"});
    const ConversationAnswer m_refusal{"会話に出ていません。", {}};
};

// The whole-excerpt mode the benchmark compares: every line numbered as the sources cite them, under a schema with
// no lengths, ranges or counts for the grammar to cut answers with.
TEST_F(ResponderFixture, Responder_WholeExcerptNumbersEveryLineAndQuotesWhenTheModelCitesNothingOrCannotBeUsed)
{
    EXPECT_EQ(m_responder.answer("何の話？", ConversationExcerpt{}),
              (ConversationAnswer{"まだ会話がありません。", {}}));
    EXPECT_TRUE(m_model->requests.empty());
    const auto excerpt = excerptOf({"A", "B\nC"});
    m_model->push(R"({"answer":"  答え\n","sources":[2]})");
    std::stop_source stop;
    EXPECT_EQ(m_responder.answer("何？", excerpt, stop.get_token()),
              (ConversationAnswer{"  答え\n", {excerpt.lines()[1].id}}));
    const auto& request = m_model->requests.front();
    EXPECT_EQ(request.instructions, FoundationModelsConversationResponder::instructions());
    EXPECT_EQ(request.prompt, "会話:\n1: A\n2: B\nC\n\n質問: 何？");
    EXPECT_TRUE(request.stopPossible);
    const auto schema = nlohmann::json::parse(request.schema);
    EXPECT_EQ(schema.at("required"), nlohmann::json::array({"answer", "sources"}));
    EXPECT_EQ(schema.dump().find("max"), std::string::npos);

    // A model answering without naming a line gets the best matching line cited, unless it refuses.
    m_model->push(R"({"answer":"来月の十五日です。","sources":[]})");
    EXPECT_EQ(m_responder.answer("発売日はいつですか？", m_launch),
              (ConversationAnswer{"来月の十五日です。", cites(1)}));
    m_model->push(R"({"answer":"会話に出ていません／分かりません","sources":[9]})");
    EXPECT_EQ(m_responder.answer("発売日はいつですか？", m_launch).sourceLineIDs, std::vector<Uuid>{});
    // An unreadable reply leaves the quotes.
    m_model->push("not json");
    EXPECT_EQ(m_responder.answer("価格はいくらですか？", m_launch),
              (ConversationAnswer{"「価格は九千八百円にする予定です。」", cites(2)}));

    // Without a usable model the model is never asked.
    using A = LanguageModel::Availability;
    for (const auto state : {A::baseModel, A::noModel, A::notModelFile, A::damaged, A::unsupported, A::preparing}) {
        m_model->state = state;
        EXPECT_EQ(m_responder.answer("宣伝はどこで行いますか？", m_launch).sourceLineIDs, cites(3));
        EXPECT_EQ(m_responder.answer("社長の名前は何ですか？", m_launch), m_refusal);
    }
    EXPECT_EQ(m_model->requests.size(), 4u);
}

TEST_F(ResponderFixture, Responder_ByDefaultTheQuotesChooseTheLinesAndTheModelWordsThemOrItsCheckedPickAnswers)
{
    FoundationModelsConversationResponder responder(m_model);

    // Whatever the model names, the ranker's line is cited; it is shown that line alone.
    for (const char* reply :
         {R"({"answer":"九千八百円です。","sources":[3]})", R"({"answer":"九千八百円です。","sources":[]})"}) {
        m_model->push(reply);
        EXPECT_EQ(responder.answer("価格はいくらですか？", m_launch),
                  (ConversationAnswer{"九千八百円です。", cites(2)}));
    }
    EXPECT_EQ(m_model->requests.back().instructions, FoundationModelsConversationResponder::wordingInstructions());
    EXPECT_EQ(m_model->requests.back().prompt,
              "会話から選んだ発言:\n3: 価格は九千八百円にする予定です。\n\n質問: 価格はいくらですか？");
    // A model doubting the line leaves the quote.
    m_model->push(R"({"answer":"会話に出ていません。","sources":[]})");
    EXPECT_EQ(responder.answer("価格はいくらですか？", m_launch),
              (ConversationAnswer{"「価格は九千八百円にする予定です。」", cites(2)}));
    EXPECT_TRUE(m_model->checks.empty());

    // Where the quotes refuse, the model picks from the shortlist and a yes/no check on its first line decides.
    m_model->push(R"({"answer":"動画サイトです。","sources":[4]})");
    m_model->odds.emplace_back(0.18);
    EXPECT_EQ(responder.answer("宣伝の予算はいくらですか？", m_launch),
              (ConversationAnswer{"動画サイトです。", cites(3)}));
    // The shortlist in the conversation's order under the excerpt's own numbers; the grammar cites only those.
    const auto& pick = m_model->requests.back();
    EXPECT_EQ(pick.instructions, FoundationModelsConversationResponder::shortlistInstructions());
    EXPECT_TRUE(pick.prompt.starts_with("会話から選んだ発言:\n1: おはようございます。")) << pick.prompt;
    EXPECT_TRUE(pick.prompt.ends_with("4: 宣伝は主に動画サイトで行います。\n\n質問: 宣伝の予算はいくらですか？"))
        << pick.prompt;
    const auto sources = nlohmann::json::parse(pick.schema).at("properties").at("sources");
    auto allowed = sources.at("items").at("enum").get<std::vector<int>>();
    std::sort(allowed.begin(), allowed.end());
    EXPECT_EQ(allowed, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(sources.at("maxItems"), 2);
    ASSERT_EQ(m_model->checks.size(), 1u);
    EXPECT_EQ(m_model->checks.back().prompt, "質問: 宣伝の予算はいくらですか？\n発言: 宣伝は主に動画サイトで行います。"
                                             "\n\nこの発言は、この質問の答えを含んでいますか？");
    EXPECT_EQ(m_model->checks.back().schema, "はい/いいえ");
    m_model->push(R"({"answer":"動画サイトです。","sources":[4]})");
    m_model->odds.emplace_back(0.17);
    EXPECT_EQ(responder.answer("宣伝の予算はいくらですか？", m_launch), m_refusal);

    // A pick or a check that fails or runs out of time leaves the refusal; a stop request still cancels.
    m_model->fail(LanguageModelError::Kind::timedOut);
    EXPECT_EQ(responder.answer("宣伝の予算はいくらですか？", m_launch), m_refusal);
    m_model->push(R"({"answer":"動画サイトです。","sources":[4]})");
    m_model->odds.emplace_back(LanguageModelError(LanguageModelError::Kind::timedOut, "失敗"));
    EXPECT_EQ(responder.answer("宣伝の予算はいくらですか？", m_launch), m_refusal);
    m_model->push(R"({"answer":"動画サイトです。","sources":[4]})");
    m_model->odds.emplace_back(LanguageModelError(LanguageModelError::Kind::cancelled, "中止"));
    EXPECT_THROW(responder.answer("宣伝の予算はいくらですか？", m_launch), LanguageModelError);
    // A pick that refuses in words or cites nothing is the quotes' refusal, unchecked.
    for (const char* reply :
         {R"({"answer":"会話に出ていません。","sources":[2]})", R"({"answer":"たぶん春","sources":[]})"}) {
        m_model->push(reply);
        EXPECT_EQ(responder.answer("社長の名前は何ですか？", m_launch), m_refusal) << reply;
    }
    EXPECT_EQ(m_model->checks.size(), 4u);
    EXPECT_TRUE(m_model->script.empty());
    EXPECT_TRUE(m_model->odds.empty());
}

// The modes the benchmark compares: the model asked only where the ranker is unsure, or every time.
TEST_F(ResponderFixture, Responder_ShortlistModesAskTheModelWhenTheQuotesRefuseOrAlways)
{
    using Use = FoundationModelsConversationResponder::ModelUse;
    FoundationModelsConversationResponder whenUnsure(m_model, {}, Use::shortlistWhenQuotesRefuse);
    EXPECT_EQ(whenUnsure.answer("価格はいくらですか？", m_launch),
              (ConversationAnswer{"「価格は九千八百円にする予定です。」", cites(2)}));
    m_model->push(R"({"answer":"動画サイトです。","sources":[4]})");
    EXPECT_EQ(whenUnsure.answer("宣伝の予算はいくらですか？", m_launch),
              (ConversationAnswer{"動画サイトです。", cites(3)}));
    FoundationModelsConversationResponder always(m_model, {}, Use::shortlist);
    m_model->push(R"({"answer":"会話に出ていません。","sources":[]})");
    EXPECT_EQ(always.answer("価格はいくらですか？", m_launch), m_refusal);
    EXPECT_EQ(m_model->requests.size(), 2u);
    EXPECT_TRUE(m_model->checks.empty());
}

TEST_F(ResponderFixture, Responder_IsAlwaysAvailableAndItsNoteSaysHowItAnswers)
{
    using A = LanguageModel::Availability;
    const std::string howTo =
        "「設定…」の「言語モデル」で指示チューニング済みのモデルをインストールして「使用する」を押す";
    // clang-format off
    const std::vector<std::pair<A, std::string>> notes{
        {A::available, ""}, {A::preparing, ""}, {A::damaged, ""}, {A::noModel, howTo}, {A::baseModel, howTo},
        {A::notModelFile, howTo}, {A::notModelFile, "GGUF 形式のモデルではない"}, {A::unsupported, "メモリには大きすぎる"},
        {A::loading, "AIモデル model.gguf を読み込んでいます…"}};
    // clang-format on
    for (const auto& [state, part] : notes) {
        m_model->state = state;
        const auto availability = m_responder.availability();
        const auto& note = availability.note();
        EXPECT_TRUE(availability.isAvailable());
        EXPECT_EQ(note.starts_with("回答は会話の発言からの引用です。"), state != A::available && state != A::loading)
            << note;
        EXPECT_NE(note.find(part), std::string::npos) << note;
        EXPECT_EQ(note.find("scripts/"), std::string::npos) << note;
    }
}

TEST(ResponderReplies, Responder_RejectsRepliesOutsideTheSchemaAndEndsACutAnswerInAnEllipsis)
{
    using Responder = FoundationModelsConversationResponder;
    const auto excerpt = threeLines();
    for (const char* reply :
         {"not json", "[]", R"({"answer":"a"})", R"({"sources":[1]})", R"({"answer":1,"sources":[]})",
          R"({"answer":"a","sources":["1"]})", R"({"answer":"a","sources":[1.5]})", R"({"answer":"a","sources":{}})"}) {
        const auto answer = Responder::answerFromReply(reply, excerpt);
        if (answer)
            ADD_FAILURE() << "accepted " << reply;
        else
            EXPECT_EQ(answer.error(), "AIの回答を読み取れませんでした。もう一度お試しください。");
    }
    // A cut reply without a character of its answer is no answer.
    for (const char* cut : {R"({"sour)", R"({"answer": "\u30)"})
        EXPECT_FALSE(Responder::answerFromCutReply(cut, excerpt).has_value()) << cut;
    // Cut in plain text, inside a multi-byte character and inside an escape.
    for (const auto& [reply, text] :
         std::vector<std::pair<std::string, std::string>>{{R"({"answer":"発売日は来月の)", "発売日は来月の…"},
                                                          {R"({"answer":"一行)" + std::string("\xe7\x9b"), "一行…"},
                                                          {R"({"answer":"a\"b\u30)", "a\"b…"}})
        EXPECT_EQ(Responder::answerFromCutReply(reply, excerpt).value(), (ConversationAnswer{text, {}}));
    // Only the numbers written out whole count; out-of-range ones are still dropped.
    EXPECT_EQ(Responder::answerFromCutReply(R"({"answer":"二行目と三行目です。", "sources":[2, 9, 3)", excerpt).value(),
              (ConversationAnswer{"二行目と三行目です。…", {excerpt.lines()[1].id}}));
    const auto ten = excerptOf({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"});
    EXPECT_EQ(Responder::answerFromCutReply(R"({"answer":"九行目です。", "sources":[9, 10, 1)", ten)->sourceLineIDs,
              (std::vector<Uuid>{ten.lines()[8].id, ten.lines()[9].id}));
}

} // namespace
} // namespace tc
