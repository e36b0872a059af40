#include "TranscriptionInfrastructure/assistant/ExtractiveAnswerer.h"
#include "TranscriptionInfrastructure/assistant/MecabTokenizer.h"
#include "support/ConversationSamples.h"

#include <gtest/gtest.h>

namespace tc {
namespace {

using test::excerptOf;

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

// The default answerer and one with a single rule switched off, on text where that rule matters.
std::pair<ExtractiveAnswerer, ExtractiveAnswerer> withAndWithout(bool ExtractiveAnswerer::Levers::*lever)
{
    const auto tokenizer = std::make_shared<MecabTokenizer>();
    ExtractiveAnswerer::Levers without;
    without.*lever = false;
    return {ExtractiveAnswerer(tokenizer),
            ExtractiveAnswerer(tokenizer, ExtractiveAnswerer::kDefaultThreshold, without)};
}

TEST(ExtractiveAnswerer, MecabTokenizer_KeepsContentWordsInDictionaryForm)
{
    MecabTokenizer tokenizer;
    ASSERT_TRUE(tokenizer.isAvailable()) << "MeCab or its dictionary is missing: run scripts/setup";
    const auto words = tokenizer.contentWords("発表会の会場を予約しました。");
    ASSERT_TRUE(words.has_value());
    EXPECT_EQ(*words, (std::vector<std::string>{"発表", "発表会", "会場", "予約"}));
    EXPECT_TRUE(tokenizer.contentWords("それはいつですか？")->empty());
    // Proper nouns bring their class; a counter left by the dropped "何" opens no compound.
    EXPECT_EQ(*tokenizer.contentWords("山本さんが渋谷に行く"),
              (std::vector<std::string>{"山本", "#人名", "山本さん", "渋谷", "#地名", "行く"}));
    EXPECT_EQ(*tokenizer.contentWords("何人参加しますか？"), std::vector<std::string>{"参加"});
}

TEST(ExtractiveAnswerer, ExtractiveAnswerer_QuotesAndCitesTheLineThatAnswers)
{
    const ExtractiveAnswerer answerer(std::make_shared<MecabTokenizer>());
    const auto& excerpt = talk();
    const auto id = [&](int n) { return excerpt.lines()[static_cast<std::size_t>(n - 1)].id; };

    // A matching line that asks is answered by the line after it, quoted in the order spoken.
    const auto answer = answerer.answer("価格はいくらですか？", excerpt);
    EXPECT_EQ(answer.sourceLineIDs, (std::vector<Uuid>{id(4), id(3)}));
    EXPECT_EQ(answer.text, "「価格はどうなりましたか？」\n「月額四百八十円で、年額は四千八百円にする予定です。」");

    // Full-width digits meet half-width ones.
    EXPECT_EQ(answerer.citedLines("予算は300万円ですか？", excerpt).front(), 5);
}

TEST(ExtractiveAnswerer, ExtractiveAnswerer_RefusesWhatTheConversationDoesNotMention)
{
    const ExtractiveAnswerer answerer(std::make_shared<MecabTokenizer>());
    for (const char* question : {"社長の名前は何ですか？", "それはいつですか？", "　 "}) {
        EXPECT_EQ(answerer.answer(question, talk()), (ConversationAnswer{"会話に出ていません。", {}})) << question;
    }
    EXPECT_TRUE(answerer.rank("発売日はいつ？", ConversationExcerpt{}).lineNumbers.empty());
    // A question sharing only a minor word with a line stays below the threshold.
    const auto ranking = answerer.rank("来週の天気はどうですか？", talk());
    EXPECT_LT(ranking.confidence, answerer.threshold());
}

TEST(ExtractiveAnswerer, ExtractiveAnswerer_QuestionWordsAskForAKindOfAnswer)
{
    const auto excerpt = excerptOf({
        "会議の議題は予算の見直しです。",         // 1
        "会議の資料は会議室に置きます。",         // 2
        "会議は十二月三日の午後二時からです。",   // 3
        "司会も決めました。",                     // 4
        "司会は営業の佐藤さんにお願いしました。", // 5
    });
    const auto [answerer, plain] = withAndWithout(&ExtractiveAnswerer::Levers::answerKinds);
    for (const auto& [question, line] :
         std::vector<std::pair<std::string, std::int64_t>>{{"会議はいつですか？", 3}, {"司会は誰ですか？", 5}}) {
        SCOPED_TRACE(question);
        const auto cited = answerer.citedLines(question, excerpt);
        ASSERT_FALSE(cited.empty());
        EXPECT_EQ(cited.front(), line);
        const auto ranked = plain.rank(question, excerpt).lineNumbers;
        EXPECT_TRUE(ranked.empty() || ranked.front() != line) << "the question word made no difference";
    }
}

TEST(ExtractiveAnswerer, ExtractiveAnswerer_TheTopicOfThePreviousLineCarriesOver)
{
    const auto excerpt = excerptOf({
        "ベータテストは三月に社内で行いました。",     // 1
        "次に、ベータテストの結果を共有します。",     // 2
        "満足度の平均は五点満点で四点二でした。",     // 3
        "アプリの満足度の調べ方はあとで説明します。", // 4
    });
    const auto [answerer, plain] = withAndWithout(&ExtractiveAnswerer::Levers::previousLine);
    const std::string question = "ベータテストの満足度はどうでしたか？";
    const auto cited = answerer.citedLines(question, excerpt);
    ASSERT_FALSE(cited.empty());
    EXPECT_EQ(cited.front(), 3);
    EXPECT_NE(plain.rank(question, excerpt).lineNumbers.front(), 3) << "the previous line made no difference";
}

// Listeners keep the topic and retell the rest: "撮りますか" for "撮影してくれます", "連れて行って" for "同伴".
TEST(ExtractiveAnswerer, ExtractiveAnswerer_PredicatesOfTheQuestionWeighLessThanItsTopic)
{
    const auto excerpt = excerptOf({
        "幹事は総務の高橋さんと私、森でやります。",                             // 1
        "写真は広報の小林さんが撮影してくれます。",                             // 2
        "撮った写真は共有フォルダにあとでまとめて置きます。",                   // 3
        "家族の同伴は今回は認めないことにしました。",                           // 4
        "去年は同伴ありにしたら部屋が足りなくなったので。",                     // 5
        "宴会の司会は営業部の中村さんにお願いしました。",                       // 6
        "集合は朝八時半に新宿駅の西口でお願いします。",                         // 7
        "費用は一人あたり二万五千円で、そのうち会社が一万五千円を負担します。", // 8
    });
    const auto [answerer, plain] = withAndWithout(&ExtractiveAnswerer::Levers::lighterPredicates);
    for (const auto& [question, line] : std::vector<std::pair<std::string, std::int64_t>>{
             {"写真は誰が撮りますか？", 2}, {"家族を連れて行ってもいいですか？", 4}}) {
        SCOPED_TRACE(question);
        const auto cited = answerer.citedLines(question, excerpt);
        ASSERT_FALSE(cited.empty());
        EXPECT_EQ(cited.front(), line);
        const auto plainCited = plain.citedLines(question, excerpt);
        EXPECT_TRUE(plainCited.empty() || plainCited.front() != line) << "the lighter predicates made no difference";
    }
    EXPECT_TRUE(answerer.citedLines("部屋割りは誰が決めますか？", excerpt).empty());
}

// MeCab keeps "第二会議室" whole as the line's compound; the question's "会議室" is in it all the same.
TEST(ExtractiveAnswerer, ExtractiveAnswerer_FindsANounSaidInsideALongerOne)
{
    const auto excerpt = excerptOf({
        "来週の打ち合わせは火曜日の午後三時からです。", // 1
        "場所は本社の第二会議室です。",                 // 2
        "資料は田中さんが用意します。",                 // 3
    });
    const auto [answerer, plain] = withAndWithout(&ExtractiveAnswerer::Levers::spelledInside);
    EXPECT_EQ(answerer.citedLines("会議室はどこですか？", excerpt), (std::vector<std::int64_t>{2}));
    EXPECT_TRUE(plain.citedLines("会議室はどこですか？", excerpt).empty()) << "the inside match made no difference";
    EXPECT_TRUE(answerer.citedLines("会議の議事録は誰が書きますか？", excerpt).empty());
}

TEST(ExtractiveAnswerer, ExtractiveAnswerer_CharacterBigramsStandInWithoutMecab)
{
    const ExtractiveAnswerer answerer(nullptr);
    EXPECT_EQ(answerer.threshold(), ExtractiveAnswerer::kBigramThreshold);
    EXPECT_EQ(answerer.citedLines("発表会の会場はどこ？", talk()), std::vector<std::int64_t>{6});
    EXPECT_EQ(answerer.citedLines("次回の会議は？", talk()), std::vector<std::int64_t>{7});
    // Bigrams of a retold question meet few of the line's: the words' threshold would refuse it.
    const std::string retold = "発表会の会場はどこを押さえましたか？";
    const auto cited = answerer.citedLines(retold, talk());
    ASSERT_FALSE(cited.empty());
    EXPECT_EQ(cited.front(), 6);
    EXPECT_TRUE(ExtractiveAnswerer(nullptr, ExtractiveAnswerer::kDefaultThreshold).citedLines(retold, talk()).empty());
    EXPECT_TRUE(answerer.citedLines("社長の名前は何ですか？", talk()).empty());
}

} // namespace
} // namespace tc
