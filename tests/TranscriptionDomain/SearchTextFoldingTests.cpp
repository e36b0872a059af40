#include "TranscriptionDomain/SearchTextFolding.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace tc;

TEST(SearchTextFolding, WidthKanaCaseAndVoicedMarkVariantsFoldAlike)
{
    const std::vector<std::pair<std::string, std::string>> cases{
        {"ｶﾀｶﾅ", "かたかな"},
        {"カタカナ", "かたかな"},
        {"ＡＰＩａｐｉ", "apiapi"},
        {"全角数字１２", "全角数字12"},
        {"①と⑫", "1と12"},
        {"会議　開始", "会議 開始"},
        {"（株）＆ＣＯ．", "(株)&co."},
        {"ﾃｽﾄ｡｢ｶｯｺ｣､ﾅｶｸﾞﾛ･ｲ", "てすと。「かっこ」、なかぐろ・い"},
        {"ÀÉ ΑΒΓ АБВ", "àé αβγ абв"},
        {"〶１２３", "〒123"},
        // Half-width and combining voiced marks join the kana before them, as NFKC does.
        {"ｶﾞｲﾄﾞ", "がいど"},
        {"か\u3099き\u3099", "がぎ"},
        {"ﾊﾟﾝとﾊﾞﾝ", "ぱんとばん"},
        {"ハ\u309Aン", "ぱん"},
        {"ﾂﾞｸﾞﾁ", "づぐち"},
        {"ｳﾞｧｲｵﾘﾝ", "ゔぁいおりん"},
        {"ヴァイオリン", "ゔぁいおりん"},
        {"ヽヾ", "ゝゞ"},
        // ヷ has no hiragana; a mark after a kana that takes none stays a combining mark.
        {"ﾜﾞ", "ヷ"},
        {"わ\u3099", "わ\u3099"},
        {"ｱﾞﾏﾟ", "あ\u3099ま\u309A"},
        {"ｺｰﾋｰ", "こーひー"},
        // Damaged bytes become replacement characters and NULs fall away.
        {"a\xFF"
         "b",
         "a\uFFFDb"},
        {"\xE3\x81", "\uFFFD\uFFFD"},
        {"\xC0\xAF", "\uFFFD\uFFFD"},
        {std::string("x\0y", 3), "xy"},
    };
    for (const auto& [text, folded] : cases)
        EXPECT_EQ(foldForSearch(text), folded) << text;
}

TEST(SearchTextFolding, OriginsPointAtTheOriginalCharacters)
{
    const std::string original = "ﾃﾞｰﾀのＡＰＩ、⑫件";
    const auto folded = foldForSearchWithOrigins(original);
    ASSERT_EQ(folded.text, "でーたのapi、12件");
    ASSERT_EQ(folded.origins.size(), folded.text.size());
    const std::vector<std::pair<std::string, std::string>> slices{{"で", "ﾃﾞ"}, {"でーた", "ﾃﾞｰﾀ"}, {"api", "ＡＰＩ"},
                                                                  {"p", "Ｐ"},  {"2件", "⑫件"},     {"12", "⑫"}};
    for (const auto& [needle, source] : slices) {
        const auto at = folded.text.find(needle);
        ASSERT_NE(at, std::string::npos) << needle;
        const auto range = folded.originalRange(at, at + needle.size());
        EXPECT_EQ(original.substr(range.begin, range.end - range.begin), source) << needle;
    }
}

TEST(SearchTextFolding, QueriesLoseSurroundingBlanks)
{
    EXPECT_EQ(foldSearchQuery("\u3000 \t\n"), "");
    EXPECT_EQ(foldSearchQuery(" ＡＰＩ　"), "api");
    EXPECT_EQ(foldSearchQuery("会議 資料"), "会議 資料");
}
