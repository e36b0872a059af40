#include "TranscriptionDomain/SearchTextFolding.h"

#include <gtest/gtest.h>

#include <string>

using namespace tc;

TEST(SearchTextFolding, WidthKanaAndCaseVariantsFoldAlike)
{
    EXPECT_EQ(foldForSearch("ｶﾀｶﾅ"), "かたかな");
    EXPECT_EQ(foldForSearch("カタカナ"), "かたかな");

    EXPECT_EQ(foldForSearch("ＡＰＩ"), "api");
    EXPECT_EQ(foldForSearch("ａｐｉ"), "api");

    EXPECT_EQ(foldForSearch("全角数字１２"), "全角数字12");
    EXPECT_EQ(foldForSearch("①と⑫"), "1と12");
    EXPECT_EQ(foldForSearch("会議　開始"), "会議 開始");
    EXPECT_EQ(foldForSearch("（株）＆ＣＯ．"), "(株)&co.");
    EXPECT_EQ(foldForSearch("ﾃｽﾄ｡｢ｶｯｺ｣､ﾅｶｸﾞﾛ･ｲ"), "てすと。「かっこ」、なかぐろ・い");
    EXPECT_EQ(foldForSearch("ÀÉ ΑΒΓ АБВ"), "àé αβγ абв");
    EXPECT_EQ(foldForSearch("〶１２３"), "〒123");
}

TEST(SearchTextFolding, VoicedMarksJoinTheirKanaAndTheLongVowelMarkStays)
{
    // Half-width marks and combining marks both join the kana before them, as NFKC does.
    EXPECT_EQ(foldForSearch("ｶﾞｲﾄﾞ"), "がいど");
    EXPECT_EQ(foldForSearch("ガイド"), "がいど");
    EXPECT_EQ(foldForSearch("か\u3099き\u3099"), "がぎ");
    EXPECT_EQ(foldForSearch("ﾊﾟﾝとﾊﾞﾝ"), "ぱんとばん");
    EXPECT_EQ(foldForSearch("ハ\u309Aン"), "ぱん");
    EXPECT_EQ(foldForSearch("ﾂﾞｸﾞﾁ"), "づぐち");
    EXPECT_EQ(foldForSearch("ｳﾞｧｲｵﾘﾝ"), "ゔぁいおりん");
    EXPECT_EQ(foldForSearch("ヴァイオリン"), "ゔぁいおりん");
    EXPECT_EQ(foldForSearch("ヽヾ"), "ゝゞ");

    // ヷ has no hiragana, so it stays katakana from either width.
    EXPECT_EQ(foldForSearch("ﾜﾞ"), "ヷ");
    // A mark after a kana that takes none stays a combining mark.
    EXPECT_EQ(foldForSearch("ｱﾞ"), "あ\u3099");
    EXPECT_EQ(foldForSearch("ﾏﾟ"), "ま\u309A");

    EXPECT_EQ(foldForSearch("ｺｰﾋｰ"), "こーひー");
    EXPECT_EQ(foldForSearch("コーヒー"), "こーひー");
}

TEST(SearchTextFolding, DamagedBytesAndNulsDoNotBreakTheText)
{
    EXPECT_EQ(foldForSearch(std::string("a\xFF"
                                        "b")),
              "a\uFFFDb");
    EXPECT_EQ(foldForSearch(std::string("\xE3\x81")), "\uFFFD\uFFFD");
    EXPECT_EQ(foldForSearch(std::string("\xC0\xAF")), "\uFFFD\uFFFD");
    EXPECT_EQ(foldForSearch(std::string("x\0y", 3)), "xy");
    EXPECT_EQ(foldForSearch(""), "");
}

TEST(SearchTextFolding, OriginsPointAtTheOriginalCharacters)
{
    const std::string original = "ﾃﾞｰﾀのＡＰＩ、⑫件";
    const auto folded = foldForSearchWithOrigins(original);
    ASSERT_EQ(folded.text, "でーたのapi、12件");
    ASSERT_EQ(folded.origins.size(), folded.text.size());

    const auto slice = [&](const std::string& needle) {
        const auto at = folded.text.find(needle);
        EXPECT_NE(at, std::string::npos) << needle;
        const auto range = folded.originalRange(at, at + needle.size());
        return original.substr(range.begin, range.end - range.begin);
    };
    EXPECT_EQ(slice("で"), "ﾃﾞ");
    EXPECT_EQ(slice("でーた"), "ﾃﾞｰﾀ");
    EXPECT_EQ(slice("api"), "ＡＰＩ");
    EXPECT_EQ(slice("p"), "Ｐ");
    EXPECT_EQ(slice("2件"), "⑫件");
    EXPECT_EQ(slice("12"), "⑫");
}

TEST(SearchTextFolding, QueriesLoseSurroundingBlanks)
{
    EXPECT_EQ(foldSearchQuery(""), "");
    EXPECT_EQ(foldSearchQuery("   "), "");
    EXPECT_EQ(foldSearchQuery("\u3000\t\n"), "");
    EXPECT_EQ(foldSearchQuery(" ＡＰＩ　"), "api");
    EXPECT_EQ(foldSearchQuery("会議 資料"), "会議 資料");
}
