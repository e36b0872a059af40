#include "TranscriptionInfrastructure/assistant/ExtractiveAnswerer.h"
#include "TranscriptionInfrastructure/assistant/FoundationModelsConversationResponder.h"
#include "TranscriptionInfrastructure/assistant/LanguageModel.h"
#include "TranscriptionInfrastructure/assistant/MecabTokenizer.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <deque>
#include <variant>

namespace tc {
namespace {

// Plays back scripted replies or errors and records what it was asked; fails loudly when the script runs out.
class ScriptedLanguageModel final : public LanguageModel {
public:
    struct Request {
        std::string instructions;
        std::string prompt;
        std::string schema;
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
    void push(std::string json, bool cut = false) { script.emplace_back(Reply{std::move(json), cut}); }
};

FinalizedLine line(std::string text)
{
    return FinalizedLine{Uuid::random(), std::move(text), 0};
}

ConversationExcerpt threeLines()
{
    return ConversationExcerpt({line("一行目"), line("二行目"), line("三行目")});
}

ConversationExcerpt meeting()
{
    return ConversationExcerpt({line("おはようございます。今日は新製品の話をします。"),
                                line("発売日は来月の十五日に決まりました。"), line("価格は九千八百円にする予定です。"),
                                line("宣伝は主に動画サイトで行います。")});
}

class ResponderFixture : public ::testing::Test {
protected:
    std::shared_ptr<ScriptedLanguageModel> m_model = std::make_shared<ScriptedLanguageModel>();
    FoundationModelsConversationResponder m_responder{m_model};
};

TEST_F(ResponderFixture, Responder_SessionGetsTheInstructionsPromptAndTheBareSchema)
{
    m_model->push(R"({"answer":"答え","sources":[1]})");
    std::stop_source stop;
    m_responder.answer("何？", ConversationExcerpt({line("A"), line("B\nC")}), stop.get_token());
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

TEST_F(ResponderFixture, Responder_EmptyExcerptIsAnsweredWithoutTheModel)
{
    for (const std::string question : {"何の話？", ""}) {
        const auto answer = m_responder.answer(question, ConversationExcerpt{});
        EXPECT_EQ(answer.text, "まだ会話がありません。");
        EXPECT_TRUE(answer.sourceLineIDs.empty());
    }
    EXPECT_TRUE(m_model->requests.empty());
}

TEST_F(ResponderFixture, Responder_MapsCitedNumbersToLineIds)
{
    const auto excerpt = threeLines();
    const auto id = [&](int n) { return excerpt.lines()[static_cast<std::size_t>(n - 1)].id; };
    struct Case {
        const char* reply;
        std::vector<Uuid> expected;
    };
    const std::vector<Case> cases{
        {R"({"answer":"a","sources":[2,2,9]})", {id(2)}},
        {R"({"answer":"a","sources":[3,1]})", {id(3), id(1)}},
        {R"({"answer":"a","sources":[0,-1]})", {}},
        {R"({"answer":"a","sources":[18446744073709551615,-9223372036854775808,1]})", {id(1)}},
        {R"({"answer":"a","sources":[]})", {}},
    };
    for (const auto& c : cases) {
        m_model->push(c.reply);
        EXPECT_EQ(m_responder.answer("q", excerpt).sourceLineIDs, c.expected) << c.reply;
    }

    // The answer text is passed on untrimmed, even with nothing cited in range.
    m_model->push(R"({"answer":"  会話に出ていません／分かりません\n","sources":[4]})");
    const auto answer = m_responder.answer("q", excerpt);
    EXPECT_EQ(answer.text, "  会話に出ていません／分かりません\n");
    EXPECT_TRUE(answer.sourceLineIDs.empty());
}

TEST_F(ResponderFixture, Responder_QuotesWhenTheModelCitesNothingOrCannotBeUsedButPassesCancellationOn)
{
    const auto excerpt = meeting();
    // A model answering without naming a line gets the best matching line cited.
    m_model->push(R"({"answer":"来月の十五日です。","sources":[]})");
    auto answer = m_responder.answer("発売日はいつですか？", excerpt);
    EXPECT_EQ(answer.text, "来月の十五日です。");
    EXPECT_EQ(answer.sourceLineIDs, std::vector<Uuid>{excerpt.lines()[1].id});

    // An unreadable reply, a timeout or a failed load leave the quotes.
    m_model->push("not json");
    m_model->script.emplace_back(LanguageModelError(LanguageModelError::Kind::timedOut, "遅い"));
    m_model->script.emplace_back(LanguageModelError(LanguageModelError::Kind::unavailable, "壊れている"));
    for (int i = 0; i < 3; ++i) {
        answer = m_responder.answer("価格はいくらですか？", excerpt);
        EXPECT_EQ(answer.text, "「価格は九千八百円にする予定です。」");
        EXPECT_EQ(answer.sourceLineIDs, std::vector<Uuid>{excerpt.lines()[2].id});
    }
    // A question the user gave up on is not answered from the quotes behind their back.
    m_model->script.emplace_back(LanguageModelError(LanguageModelError::Kind::cancelled, "中止"));
    try {
        m_responder.answer("価格はいくらですか？", excerpt);
        ADD_FAILURE() << "answered despite the cancellation";
    } catch (const LanguageModelError& error) {
        EXPECT_EQ(error.kind(), LanguageModelError::Kind::cancelled);
    }

    // Without a usable model the model is never asked.
    for (const auto state : {LanguageModel::Availability::baseModel, LanguageModel::Availability::noModel,
                             LanguageModel::Availability::notModelFile, LanguageModel::Availability::damaged,
                             LanguageModel::Availability::unsupported, LanguageModel::Availability::preparing}) {
        m_model->state = state;
        const auto before = m_model->requests.size();
        EXPECT_EQ(m_responder.answer("宣伝はどこで行いますか？", excerpt).sourceLineIDs,
                  std::vector<Uuid>{excerpt.lines()[3].id});
        EXPECT_EQ(m_responder.answer("社長の名前は何ですか？", excerpt),
                  (ConversationAnswer{"会話に出ていません。", {}}));
        EXPECT_EQ(m_model->requests.size(), before);
    }
}

TEST_F(ResponderFixture, Responder_CutAnswerEndsInAnEllipsisAndKeepsFinishedCitations)
{
    const auto excerpt = threeLines();
    m_model->push(R"({"answer":"発売日は来月の)", true);
    EXPECT_EQ(m_responder.answer("q", excerpt).text, "発売日は来月の…");

    // Cut inside a multi-byte character and inside an escape.
    m_model->push(std::string(R"({"answer":"一行)") + "\xe7\x9b", true);
    EXPECT_EQ(m_responder.answer("q", excerpt).text, "一行…");
    m_model->push(R"({"answer":"a\"b\u30)", true);
    EXPECT_EQ(m_responder.answer("q", excerpt).text, "a\"b…");

    // Only the numbers written out whole count; out-of-range ones are still dropped.
    m_model->push(R"({"answer":"二行目と三行目です。", "sources":[2, 9, 3)", true);
    const auto answer = m_responder.answer("q", excerpt);
    EXPECT_EQ(answer.text, "二行目と三行目です。…");
    EXPECT_EQ(answer.sourceLineIDs, std::vector<Uuid>{excerpt.lines()[1].id});
}

TEST_F(ResponderFixture, Responder_IsAlwaysAvailableAndItsNoteSaysHowItAnswers)
{
    using A = LanguageModel::Availability;
    const std::string quotes = "回答は会話の発言からの引用です。";
    const std::string howTo = "「設定…」の「言語モデル」で選んでください。次の質問から使われます。";
    for (const auto state : {A::available, A::loading, A::baseModel, A::preparing, A::noModel, A::notModelFile,
                             A::damaged, A::unsupported}) {
        m_model->state = state;
        const auto availability = m_responder.availability();
        EXPECT_TRUE(availability.isAvailable());
        const auto& note = availability.note();
        const bool quoting = state != A::available && state != A::loading;
        EXPECT_EQ(note.starts_with(quotes), quoting) << note;
        EXPECT_EQ(note.find("scripts/"), std::string::npos) << note;
        if (state == A::noModel || state == A::baseModel || state == A::notModelFile) {
            EXPECT_NE(note.find(howTo), std::string::npos) << note;
        }
    }
    m_model->state = A::loading;
    EXPECT_EQ(m_responder.availability().note(), "AIモデル model.gguf を読み込んでいます…");
    m_model->state = A::unsupported;
    EXPECT_NE(m_responder.availability().note().find("メモリには大きすぎる"), std::string::npos);
    m_model->state = A::notModelFile;
    EXPECT_NE(m_responder.availability().note().find("GGUF 形式のモデルではない"), std::string::npos);
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
    EXPECT_THROW(FoundationModelsConversationResponder::answerFromCutReply(R"({"sour)", threeLines()),
                 std::runtime_error);
}

} // namespace
} // namespace tc
