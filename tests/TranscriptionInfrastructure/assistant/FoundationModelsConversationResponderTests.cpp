#include "TranscriptionInfrastructure/assistant/FoundationModelsConversationResponder.h"
#include "TranscriptionInfrastructure/assistant/LanguageModel.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <deque>
#include <variant>

namespace tc {
namespace {

// Plays back scripted replies or errors and records what it was asked; fails loudly when the script runs out.
class ScriptedLanguageModel final : public LanguageModel {
public:
    struct Request {
        std::string instructions, prompt, schema;
        bool stopPossible = false;
    };

    Availability state = Availability::available;
    std::deque<std::variant<Reply, LanguageModelError>> script;
    std::vector<Request> requests;

    Availability availability() override { return state; }
    std::string fileName() const override { return "model.gguf"; }

    Reply respond(const std::string& instructions, const std::string& prompt, const std::string& jsonSchema,
                  std::stop_token stop) override
    {
        requests.push_back({instructions, prompt, jsonSchema, stop.stop_possible()});
        if (script.empty()) throw std::logic_error("no scripted reply left");
        auto next = std::move(script.front());
        script.pop_front();
        if (auto* error = std::get_if<LanguageModelError>(&next)) throw *error;
        return std::get<Reply>(next);
    }
    double probabilityOfYes(const std::string& instructions, const std::string& prompt, const std::string& yes,
                            const std::string& no, std::stop_token stop) override
    {
        checks.push_back({instructions, prompt, yes + "/" + no, stop.stop_possible()});
        if (odds.empty()) throw std::logic_error("no scripted odds left");
        auto next = std::move(odds.front());
        odds.pop_front();
        if (auto* error = std::get_if<LanguageModelError>(&next)) throw *error;
        return std::get<double>(next);
    }
    void push(std::string json, bool cut = false) { script.emplace_back(Reply{std::move(json), cut}); }
    void fail(LanguageModelError::Kind kind) { script.emplace_back(LanguageModelError(kind, "失敗")); }

    std::deque<std::variant<double, LanguageModelError>> odds;
    std::vector<Request> checks;
};

ConversationExcerpt excerptOf(std::vector<std::string> texts)
{
    std::vector<FinalizedLine> lines;
    for (auto& text : texts)
        lines.push_back({Uuid::random(), std::move(text), 0});
    return ConversationExcerpt(std::move(lines));
}

const auto threeLines = [] { return excerptOf({"一行目", "二行目", "三行目"}); };

class ResponderFixture : public ::testing::Test {
protected:
    std::shared_ptr<ScriptedLanguageModel> m_model = std::make_shared<ScriptedLanguageModel>();
    FoundationModelsConversationResponder m_responder{
        m_model, {}, FoundationModelsConversationResponder::ModelUse::wholeExcerpt};
};

TEST_F(ResponderFixture, Responder_SessionGetsTheInstructionsPromptAndTheBareSchema)
{
    // Without lines there is nothing to ask the model about.
    for (const std::string question : {"何の話？", ""})
        EXPECT_EQ(m_responder.answer(question, ConversationExcerpt{}),
                  (ConversationAnswer{"まだ会話がありません。", {}}));
    EXPECT_TRUE(m_model->requests.empty());

    m_model->push(R"({"answer":"答え","sources":[1]})");
    std::stop_source stop;
    m_responder.answer("何？", excerptOf({"A", "B\nC"}), stop.get_token());
    ASSERT_EQ(m_model->requests.size(), 1u);
    const auto& request = m_model->requests.front();
    EXPECT_EQ(request.instructions, FoundationModelsConversationResponder::instructions());
    // The lines numbered from 1, as the sources cite them, and the question last.
    EXPECT_EQ(request.prompt, "会話:\n1: A\n2: B\nC\n\n質問: 何？");
    EXPECT_TRUE(request.stopPossible);
    // Exactly the two described properties: no lengths, ranges or counts for the grammar to cut answers with.
    const auto schema = nlohmann::json::parse(request.schema);
    EXPECT_EQ(schema.at("required"), nlohmann::json::array({"answer", "sources"}));
    EXPECT_EQ(schema.at("properties").at("answer").at("type"), "string");
    EXPECT_EQ(schema.at("properties").at("sources").at("items"), (nlohmann::json{{"type", "integer"}}));
    EXPECT_EQ(schema.at("properties").size(), 2u);
    EXPECT_EQ(schema.dump().find("max"), std::string::npos);
}

TEST_F(ResponderFixture, Responder_MapsCitedNumbersToLineIds)
{
    const auto excerpt = threeLines();
    const auto id = [&](int n) { return excerpt.lines()[static_cast<std::size_t>(n - 1)].id; };
    const std::vector<std::pair<std::string, std::vector<Uuid>>> cases{
        {R"({"answer":"a","sources":[2,2,9]})", {id(2)}},
        {R"({"answer":"a","sources":[3,1]})", {id(3), id(1)}},
        {R"({"answer":"a","sources":[0,-1]})", {}},
        {R"({"answer":"a","sources":[18446744073709551615,-9223372036854775808,1]})", {id(1)}},
        {R"({"answer":"a","sources":[]})", {}}};
    for (const auto& [reply, expected] : cases) {
        m_model->push(reply);
        EXPECT_EQ(m_responder.answer("q", excerpt).sourceLineIDs, expected) << reply;
    }
    // The answer text is passed on untrimmed, even with nothing cited in range.
    m_model->push(R"({"answer":"  会話に出ていません／分かりません\n","sources":[4]})");
    EXPECT_EQ(m_responder.answer("q", excerpt), (ConversationAnswer{"  会話に出ていません／分かりません\n", {}}));
}

TEST_F(ResponderFixture, Responder_QuotesWhenTheModelCitesNothingOrCannotBeUsedButPassesCancellationOn)
{
    const auto excerpt =
        excerptOf({"おはようございます。今日は新製品の話をします。", "発売日は来月の十五日に決まりました。",
                   "価格は九千八百円にする予定です。", "宣伝は主に動画サイトで行います。"});
    const auto cites = [&](std::size_t n) { return std::vector<Uuid>{excerpt.lines()[n].id}; };
    // A model answering without naming a line gets the best matching line cited.
    m_model->push(R"({"answer":"来月の十五日です。","sources":[]})");
    EXPECT_EQ(m_responder.answer("発売日はいつですか？", excerpt),
              (ConversationAnswer{"来月の十五日です。", cites(1)}));

    // An unreadable reply, a timeout or a failed load leave the quotes.
    m_model->push("not json");
    m_model->fail(LanguageModelError::Kind::timedOut);
    m_model->fail(LanguageModelError::Kind::unavailable);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(m_responder.answer("価格はいくらですか？", excerpt),
                  (ConversationAnswer{"「価格は九千八百円にする予定です。」", cites(2)}));
    // A question the user gave up on is not answered from the quotes behind their back.
    m_model->fail(LanguageModelError::Kind::cancelled);
    try {
        m_responder.answer("価格はいくらですか？", excerpt);
        ADD_FAILURE() << "answered despite the cancellation";
    } catch (const LanguageModelError& error) {
        EXPECT_EQ(error.kind(), LanguageModelError::Kind::cancelled);
    }

    // Without a usable model the model is never asked.
    using A = LanguageModel::Availability;
    for (const auto state : {A::baseModel, A::noModel, A::notModelFile, A::damaged, A::unsupported, A::preparing}) {
        m_model->state = state;
        EXPECT_EQ(m_responder.answer("宣伝はどこで行いますか？", excerpt).sourceLineIDs, cites(3));
        EXPECT_EQ(m_responder.answer("社長の名前は何ですか？", excerpt),
                  (ConversationAnswer{"会話に出ていません。", {}}));
    }
    EXPECT_EQ(m_model->requests.size(), 5u);
}

TEST_F(ResponderFixture, Responder_ShortlistShowsTheRankersBestLinesAndTheQuotesKeepWhatTheyAreSureOf)
{
    const auto excerpt =
        excerptOf({"おはようございます。今日は新製品の話をします。", "発売日は来月の十五日に決まりました。",
                   "価格は九千八百円にする予定です。", "宣伝は主に動画サイトで行います。"});
    const auto cites = [&](std::size_t n) { return std::vector<Uuid>{excerpt.lines()[n].id}; };
    using Use = FoundationModelsConversationResponder::ModelUse;
    FoundationModelsConversationResponder whenUnsure(m_model, {}, Use::shortlistWhenQuotesRefuse);

    // The ranker is sure of this one: the quotes answer and the model is never asked.
    EXPECT_EQ(whenUnsure.answer("価格はいくらですか？", excerpt),
              (ConversationAnswer{"「価格は九千八百円にする予定です。」", cites(2)}));
    EXPECT_TRUE(m_model->requests.empty());

    // Unsure: the model sees the shortlist in the conversation's order under the excerpt's own numbers, and the
    // grammar lets it cite only those.
    m_model->push(R"({"answer":"動画サイトです。","sources":[4]})");
    EXPECT_EQ(whenUnsure.answer("広告はどこに出しますか？", excerpt),
              (ConversationAnswer{"動画サイトです。", cites(3)}));
    ASSERT_EQ(m_model->requests.size(), 1u);
    const auto& request = m_model->requests.back();
    EXPECT_EQ(request.instructions, FoundationModelsConversationResponder::shortlistInstructions());
    EXPECT_TRUE(request.prompt.starts_with("会話から選んだ発言:\n1: おはようございます。")) << request.prompt;
    EXPECT_TRUE(request.prompt.ends_with("4: 宣伝は主に動画サイトで行います。\n\n質問: 広告はどこに出しますか？"))
        << request.prompt;
    const auto sources = nlohmann::json::parse(request.schema).at("properties").at("sources");
    auto allowed = sources.at("items").at("enum").get<std::vector<int>>();
    std::sort(allowed.begin(), allowed.end());
    EXPECT_EQ(allowed, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(sources.at("maxItems"), 2);

    // A refusal, in words or by citing nothing, is the quotes' refusal; a cut answer keeps its ellipsis.
    for (const char* reply :
         {R"({"answer":"会話に出ていません。","sources":[2]})", R"({"answer":"たぶん春","sources":[]})"}) {
        m_model->push(reply);
        EXPECT_EQ(whenUnsure.answer("社長の名前は何ですか？", excerpt),
                  (ConversationAnswer{"会話に出ていません。", {}}))
            << reply;
    }
    m_model->push(R"({"answer":"来月の十五日","sources":[2]})", true);
    EXPECT_EQ(whenUnsure.answer("いつ売り出しますか？", excerpt).text, "来月の十五日…");

    // Shown the shortlist every time, the model decides even where the ranker is sure.
    FoundationModelsConversationResponder always(m_model, {}, Use::shortlist);
    m_model->push(R"({"answer":"会話に出ていません。","sources":[]})");
    EXPECT_EQ(always.answer("価格はいくらですか？", excerpt), (ConversationAnswer{"会話に出ていません。", {}}));
    EXPECT_EQ(m_model->requests.size(), 5u);
}

TEST_F(ResponderFixture, Responder_ByDefaultTheQuotesChooseTheLinesAndTheModelWordsThemOrItsCheckedPickAnswers)
{
    const auto excerpt =
        excerptOf({"おはようございます。今日は新製品の話をします。", "発売日は来月の十五日に決まりました。",
                   "価格は九千八百円にする予定です。", "宣伝は主に動画サイトで行います。"});
    const auto cites = [&](std::size_t n) { return std::vector<Uuid>{excerpt.lines()[n].id}; };
    const ConversationAnswer refusal{"会話に出ていません。", {}};
    FoundationModelsConversationResponder responder(m_model);

    // Whatever the model names, the ranker's line is cited; it is shown that line alone.
    for (const char* reply :
         {R"({"answer":"九千八百円です。","sources":[3]})", R"({"answer":"九千八百円です。","sources":[]})"}) {
        m_model->push(reply);
        EXPECT_EQ(responder.answer("価格はいくらですか？", excerpt),
                  (ConversationAnswer{"九千八百円です。", cites(2)}));
    }
    EXPECT_EQ(m_model->requests.back().instructions, FoundationModelsConversationResponder::wordingInstructions());
    EXPECT_EQ(m_model->requests.back().prompt,
              "会話から選んだ発言:\n3: 価格は九千八百円にする予定です。\n\n質問: 価格はいくらですか？");
    // A model doubting the line leaves the quote.
    m_model->push(R"({"answer":"会話に出ていません。","sources":[]})");
    EXPECT_EQ(responder.answer("価格はいくらですか？", excerpt),
              (ConversationAnswer{"「価格は九千八百円にする予定です。」", cites(2)}));
    EXPECT_TRUE(m_model->checks.empty());

    // Where the quotes refuse, the model picks from the shortlist and a yes/no check on its first line decides.
    m_model->push(R"({"answer":"動画サイトです。","sources":[4]})");
    m_model->odds.emplace_back(0.18);
    EXPECT_EQ(responder.answer("広告はどこに出しますか？", excerpt),
              (ConversationAnswer{"動画サイトです。", cites(3)}));
    EXPECT_EQ(m_model->requests.back().instructions, FoundationModelsConversationResponder::shortlistInstructions());
    ASSERT_EQ(m_model->checks.size(), 1u);
    EXPECT_EQ(m_model->checks.back().prompt, "質問: 広告はどこに出しますか？\n発言: 宣伝は主に動画サイトで行います。"
                                             "\n\nこの発言は、この質問の答えを含んでいますか？");
    EXPECT_EQ(m_model->checks.back().schema, "はい/いいえ");
    m_model->push(R"({"answer":"動画サイトです。","sources":[4]})");
    m_model->odds.emplace_back(0.17);
    EXPECT_EQ(responder.answer("広告はどこに出しますか？", excerpt), refusal);

    // A pick or a check that fails or runs out of time leaves the refusal; a stop request still cancels.
    m_model->fail(LanguageModelError::Kind::timedOut);
    EXPECT_EQ(responder.answer("広告はどこに出しますか？", excerpt), refusal);
    m_model->push(R"({"answer":"動画サイトです。","sources":[4]})");
    m_model->odds.emplace_back(LanguageModelError(LanguageModelError::Kind::timedOut, "失敗"));
    EXPECT_EQ(responder.answer("広告はどこに出しますか？", excerpt), refusal);
    m_model->push(R"({"answer":"動画サイトです。","sources":[4]})");
    m_model->odds.emplace_back(LanguageModelError(LanguageModelError::Kind::cancelled, "中止"));
    EXPECT_THROW(responder.answer("広告はどこに出しますか？", excerpt), LanguageModelError);
    // A pick that cites nothing or refuses is not checked.
    m_model->push(R"({"answer":"会話に出ていません。","sources":[]})");
    EXPECT_EQ(responder.answer("社長の名前は何ですか？", excerpt), refusal);
    EXPECT_EQ(m_model->checks.size(), 4u);
    EXPECT_TRUE(m_model->script.empty());
    EXPECT_TRUE(m_model->odds.empty());
}

TEST_F(ResponderFixture, Responder_CutAnswerEndsInAnEllipsisAndKeepsFinishedCitations)
{
    const auto excerpt = threeLines();
    // Cut in plain text, inside a multi-byte character and inside an escape.
    for (const auto& [reply, text] :
         std::vector<std::pair<std::string, std::string>>{{R"({"answer":"発売日は来月の)", "発売日は来月の…"},
                                                          {R"({"answer":"一行)" + std::string("\xe7\x9b"), "一行…"},
                                                          {R"({"answer":"a\"b\u30)", "a\"b…"}}) {
        m_model->push(reply, true);
        EXPECT_EQ(m_responder.answer("q", excerpt).text, text);
    }
    // Only the numbers written out whole count; out-of-range ones are still dropped.
    m_model->push(R"({"answer":"二行目と三行目です。", "sources":[2, 9, 3)", true);
    EXPECT_EQ(m_responder.answer("q", excerpt), (ConversationAnswer{"二行目と三行目です。…", {excerpt.lines()[1].id}}));
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

TEST(ResponderReplies, Responder_RejectsRepliesOutsideTheSchema)
{
    for (const char* reply :
         {"", "not json", "[]", R"({"answer":"a"})", R"({"sources":[1]})", R"({"answer":1,"sources":[]})",
          R"({"answer":"a","sources":["1"]})", R"({"answer":"a","sources":[1.5]})", R"({"answer":"a","sources":{}})"}) {
        try {
            FoundationModelsConversationResponder::answerFromReply(reply, threeLines());
            ADD_FAILURE() << "accepted " << reply;
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "AIの回答を読み取れませんでした。もう一度お試しください。");
        }
    }
    for (const char* cut : {R"({"sour)", R"({"answer":")", R"({"answer": "\u30)"})
        EXPECT_THROW(FoundationModelsConversationResponder::answerFromCutReply(cut, threeLines()), std::runtime_error)
            << cut;
}

} // namespace
} // namespace tc
