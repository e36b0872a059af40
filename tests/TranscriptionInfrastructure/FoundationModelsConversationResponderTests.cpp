#include "TranscriptionInfrastructure/FoundationModelsConversationResponder.h"
#include "TranscriptionInfrastructure/LanguageModel.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <deque>
#include <mutex>
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
    std::deque<std::variant<std::string, LanguageModelError>> script;
    std::vector<Request> requests;

    Availability availability() override { return state; }

    std::string respond(const std::string& instructions, const std::string& prompt, const std::string& jsonSchema,
                        std::stop_token stop) override
    {
        requests.push_back({instructions, prompt, jsonSchema, stop.stop_possible()});
        if (script.empty()) throw std::logic_error("no scripted reply left");
        auto next = std::move(script.front());
        script.pop_front();
        if (auto* error = std::get_if<LanguageModelError>(&next)) throw *error;
        return std::get<std::string>(next);
    }
};

FinalizedLine line(std::string text)
{
    return FinalizedLine{Uuid::random(), std::move(text), 0};
}

ConversationExcerpt threeLines()
{
    return ConversationExcerpt({line("一行目"), line("二行目"), line("三行目")});
}

class ResponderFixture : public ::testing::Test {
protected:
    std::shared_ptr<ScriptedLanguageModel> m_model = std::make_shared<ScriptedLanguageModel>();
    FoundationModelsConversationResponder m_responder{m_model};
};

TEST_F(ResponderFixture, Responder_PromptNumbersTheLinesAndEndsWithTheQuestion)
{
    const ConversationExcerpt excerpt({line("A"), line("B")});
    EXPECT_EQ(FoundationModelsConversationResponder::prompt("Q", excerpt), "会話:\n1: A\n2: B\n\n質問: Q");

    // Texts pass unchanged, line feeds and surrounding spaces included.
    const ConversationExcerpt odd({line(" 前\n後 "), line("")});
    EXPECT_EQ(FoundationModelsConversationResponder::prompt(" 何？\n", odd),
              "会話:\n1:  前\n後 \n2: \n\n質問:  何？\n");
}

TEST_F(ResponderFixture, Responder_SessionGetsTheInstructionsPromptAndSchema)
{
    m_model->script.emplace_back(std::string(R"({"answer":"会議は三時です。","sources":[2]})"));
    std::stop_source stop;
    const auto excerpt = threeLines();
    const auto answer = m_responder.answer("会議はいつ？", excerpt, stop.get_token());

    ASSERT_EQ(m_model->requests.size(), 1u);
    const auto& request = m_model->requests[0];
    EXPECT_EQ(
        request.instructions,
        "あなたは、進行中の会話の記録だけを根拠に答えるアシスタントです。\n"
        "与えられた会話（番号つきの発言）のみを使って、簡潔な日本語で答えてください。\n"
        "会話に書かれていないことは推測せず、「会話に出ていません／分かりません」と答えてください。\n"
        "回答の根拠にした発言があれば、その番号を sources に入れてください。根拠が無ければ sources は空にします。");
    EXPECT_EQ(request.prompt, "会話:\n1: 一行目\n2: 二行目\n3: 三行目\n\n質問: 会議はいつ？");
    EXPECT_TRUE(request.stopPossible);

    const auto schema = nlohmann::ordered_json::parse(request.schema);
    EXPECT_EQ(schema["required"], nlohmann::json::array({"answer", "sources"}));
    auto property = schema["properties"].begin();
    EXPECT_EQ(property.key(), "answer");
    EXPECT_EQ((*property)["description"], "会話の内容だけを根拠にした、簡潔な日本語の回答。会話に無いことは答えない。");
    ++property;
    EXPECT_EQ(property.key(), "sources");
    EXPECT_EQ((*property)["items"]["type"], "integer");
    EXPECT_EQ((*property)["items"]["minimum"], 1);
    EXPECT_EQ((*property)["items"]["maximum"], 3);
    EXPECT_EQ((*property)["description"], "回答の根拠にした発言の番号（会話に付した1始まりの番号）。無ければ空。");

    EXPECT_EQ(answer.text, "会議は三時です。");
    EXPECT_EQ(answer.sourceLineIDs, std::vector<Uuid>{excerpt.lines()[1].id});
}

TEST_F(ResponderFixture, Responder_EmptyExcerptIsAnsweredWithoutTheModel)
{
    m_model->state = LanguageModel::Availability::noModel;
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
        m_model->script.emplace_back(std::string(c.reply));
        EXPECT_EQ(m_responder.answer("q", excerpt).sourceLineIDs, c.expected) << c.reply;
    }

    // The answer text is passed on untrimmed, even with nothing cited in range.
    m_model->script.emplace_back(std::string(R"({"answer":"  会話に出ていません／分かりません\n","sources":[4]})"));
    const auto answer = m_responder.answer("q", excerpt);
    EXPECT_EQ(answer.text, "  会話に出ていません／分かりません\n");
    EXPECT_TRUE(answer.sourceLineIDs.empty());
}

TEST_F(ResponderFixture, Responder_RejectsRepliesOutsideTheSchema)
{
    for (const char* reply :
         {"", "not json", "[]", R"({"answer":"a"})", R"({"sources":[1]})", R"({"answer":1,"sources":[]})",
          R"({"answer":"a","sources":["1"]})", R"({"answer":"a","sources":[1.5]})", R"({"answer":"a","sources":{}})"}) {
        m_model->script.emplace_back(std::string(reply));
        try {
            m_responder.answer("q", threeLines());
            ADD_FAILURE() << "accepted " << reply;
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "AIの回答を読み取れませんでした。もう一度お試しください。");
        }
    }
}

TEST_F(ResponderFixture, Responder_PassesModelErrorsOnAndExplainsUnavailability)
{
    m_model->script.emplace_back(LanguageModelError(LanguageModelError::Kind::cancelled, "中止"));
    try {
        m_responder.answer("q", threeLines());
        ADD_FAILURE() << "no error";
    } catch (const LanguageModelError& error) {
        EXPECT_EQ(error.kind(), LanguageModelError::Kind::cancelled);
        EXPECT_STREQ(error.what(), "中止");
    }

    m_model->state = LanguageModel::Availability::noModel;
    m_model->script.emplace_back(LanguageModelError(LanguageModelError::Kind::unavailable, "x"));
    try {
        m_responder.answer("q", threeLines());
        ADD_FAILURE() << "no error";
    } catch (const LanguageModelError& error) {
        EXPECT_EQ(std::string(error.what()), m_responder.availability().reason());
    }
}

TEST_F(ResponderFixture, Responder_AvailabilityReasonsAreTrueForThisComputer)
{
    using A = LanguageModel::Availability;
    const std::vector<std::pair<A, ConversationResponderAvailability>> expected{
        {A::available, ConversationResponderAvailability::available()},
        {A::preparing,
         ConversationResponderAvailability::unavailable("AIモデルの準備中です。しばらくしてからお試しください。")},
        {A::noModel,
         ConversationResponderAvailability::unavailable(
             "AIモデルがインストールされていません。scripts/install-models を実行してからお試しください。")},
        {A::unsupported, ConversationResponderAvailability::unavailable(
                             "このコンピュータではAIモデルを実行できません（メモリが足りません）。"
                             "より小さなモデルを指定してください。")},
        {A::failed, ConversationResponderAvailability::unavailable("オンデバイスAIが利用できません。")},
    };
    for (const auto& [state, availability] : expected) {
        m_model->state = state;
        EXPECT_EQ(m_responder.availability(), availability);
    }
}

} // namespace
} // namespace tc
