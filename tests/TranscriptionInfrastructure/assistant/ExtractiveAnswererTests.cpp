#include "TranscriptionInfrastructure/assistant/ExtractiveAnswerer.h"
#include "TranscriptionInfrastructure/assistant/MecabTokenizer.h"

#include <gtest/gtest.h>

namespace tc {
namespace {

ConversationExcerpt excerptOf(std::initializer_list<const char*> texts)
{
    std::vector<FinalizedLine> lines;
    for (const char* text : texts)
        lines.push_back(FinalizedLine{Uuid::random(), text, 0});
    return ConversationExcerpt(std::move(lines));
}

const ConversationExcerpt& talk()
{
    static const auto excerpt = excerptOf({
        "それでは定例会議を始めます。",                       // 1
        "発売日は四月十日で確定しました。",                   // 2
        "価格はどうなりましたか？",                           // 3
        "月額四百八十円で、年額は四千八百円にする予定です。", // 4
        "広告の予算は全部で３００万円です。",                 // 5
        "発表会の会場は渋谷のホールを予約しました。",         // 6
        "次回の会議は来週の水曜日です。",                     // 7
    });
    return excerpt;
}

TEST(ExtractiveAnswerer, MecabTokenizer_KeepsContentWordsInDictionaryForm)
{
    MecabTokenizer tokenizer;
    ASSERT_TRUE(tokenizer.isAvailable()) << "MeCab or its dictionary is missing: run scripts/setup";
    const auto words = tokenizer.contentWords("発表会の会場を予約しました。");
    ASSERT_TRUE(words.has_value());
    EXPECT_EQ(*words, (std::vector<std::string>{"発表", "発表会", "会場", "予約"}));
    EXPECT_TRUE(tokenizer.contentWords("それはいつですか？")->empty());
}

TEST(ExtractiveAnswerer, ExtractiveAnswerer_QuotesAndCitesTheLineThatAnswers)
{
    const ExtractiveAnswerer answerer(std::make_shared<MecabTokenizer>());
    const auto& excerpt = talk();
    const auto id = [&](int n) { return excerpt.lines()[static_cast<std::size_t>(n - 1)].id; };

    auto answer = answerer.answer("発売日はいつですか？", excerpt);
    EXPECT_EQ(answer.text, "「発売日は四月十日で確定しました。」");
    EXPECT_EQ(answer.sourceLineIDs, std::vector<Uuid>{id(2)});

    // A matching line that asks is answered by the line after it, quoted in the order spoken.
    answer = answerer.answer("価格はいくらですか？", excerpt);
    EXPECT_EQ(answer.sourceLineIDs, (std::vector<Uuid>{id(4), id(3)}));
    EXPECT_EQ(answer.text, "「価格はどうなりましたか？」\n「月額四百八十円で、年額は四千八百円にする予定です。」");

    // Full-width digits meet half-width ones.
    EXPECT_EQ(answerer.citedLines("予算は300万円ですか？", excerpt).front(), 5);
}

TEST(ExtractiveAnswerer, ExtractiveAnswerer_RefusesWhatTheConversationDoesNotMention)
{
    const ExtractiveAnswerer answerer(std::make_shared<MecabTokenizer>());
    for (const char* question : {"社長の名前は何ですか？", "それはいつですか？", "", "　 "}) {
        EXPECT_EQ(answerer.answer(question, talk()), (ConversationAnswer{"会話に出ていません。", {}})) << question;
    }
    EXPECT_TRUE(answerer.rank("発売日はいつ？", ConversationExcerpt{}).lineNumbers.empty());
    // A question sharing only a minor word with a line stays below the threshold.
    const auto ranking = answerer.rank("渋谷の天気はどうでしたか？", talk());
    EXPECT_LT(ranking.confidence, answerer.threshold());
}

TEST(ExtractiveAnswerer, ExtractiveAnswerer_CharacterBigramsStandInWithoutMecab)
{
    const ExtractiveAnswerer answerer(nullptr);
    EXPECT_EQ(answerer.citedLines("発表会の会場はどこ？", talk()).front(), 6);
    EXPECT_EQ(answerer.citedLines("次回の会議は？", talk()).front(), 7);
}

} // namespace
} // namespace tc
