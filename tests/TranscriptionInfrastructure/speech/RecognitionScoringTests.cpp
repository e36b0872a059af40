#include "TranscriptionInfrastructure/speech/RecognitionScoring.h"

#include <gtest/gtest.h>

namespace {

namespace S = tc::RecognitionScoring;

TEST(RecognitionScoring, ComparesWhatAReaderTakesAsTheSameText)
{
    EXPECT_EQ(S::normalized("ＡＰＩの仕様、 確認して。「OK」！？…"), U"apiの仕様確認してok")
        << "NFKC, case, punctuation";
    EXPECT_EQ(S::normalized("ｶﾀｶﾅ"), U"カタカナ") << "half-width katakana folds";
    EXPECT_EQ(S::normalized("売上は15%増"), S::normalized("売上は十五パーセント増"));
    EXPECT_DOUBLE_EQ(S::characterErrorRate("明日の会議は午後3時からです。", "明日の会議は午後３時からです"), 0.0);
    EXPECT_DOUBLE_EQ(S::characterErrorRate("あいうえ", "あいえ"), 0.25);
    EXPECT_DOUBLE_EQ(S::characterErrorRate("あいうえ", "かいうえお"), 0.5);
    EXPECT_DOUBLE_EQ(S::characterErrorRate("", ""), 0.0);
    EXPECT_DOUBLE_EQ(S::characterErrorRate("。", "あ"), 1.0);
    EXPECT_EQ(S::editDistance(U"会議", U"会議室"), 1u);
}

TEST(RecognitionScoring, ReadsKanjiNumeralsAsDigits)
{
    EXPECT_EQ(S::normalized("十二"), U"12");
    EXPECT_EQ(S::normalized("五百万"), U"5000000");
    EXPECT_EQ(S::normalized("二〇二六年十二月七日"), U"2026年12月7日");
    EXPECT_EQ(S::normalized("百二十万円"), U"1200000円");
    EXPECT_EQ(S::normalized("120万円"), U"1200000円") << "digits before a large unit";
    EXPECT_EQ(S::normalized("15万8000円"), U"158000円");
    EXPECT_EQ(S::normalized("三千五百円"), U"3500円");
    EXPECT_EQ(S::normalized("二億円"), U"200000000円");
    EXPECT_EQ(S::normalized("一万"), U"10000");
    EXPECT_EQ(S::normalized("1,000人"), U"1000人") << "a digit group separator keeps its zeros";
    EXPECT_EQ(S::normalized("3、4人"), U"34人") << "numbers apart stay apart until punctuation goes";
    EXPECT_DOUBLE_EQ(S::characterErrorRate("交通費は1人あたり3500円です。", "交通費は一人あたり三千五百円です"), 0.0);
    EXPECT_DOUBLE_EQ(S::characterErrorRate("2026年12月7日に発表します。", "二千二十六年十二月七日に発表します"), 0.0);
}

TEST(RecognitionScoring, FindsLatinWordsTheSpeakerDidNotSay)
{
    EXPECT_EQ(S::latinWords("ＡＰＩとZoomとGPT4"), (std::vector<std::string>{"api", "zoom", "gpt4"}));
    EXPECT_TRUE(S::inventedLatinWords("APIの仕様を確認してください。", "APIの仕様を確認してください").empty());
    EXPECT_EQ(S::inventedLatinWords("テストの結果です。", "テストの結栄ですア ruler"),
              (std::vector<std::string>{"ruler"}));
    EXPECT_EQ(S::inventedLatinWords("鉄道の結果3件の服", "鉄との結果3件の服 I with respect"),
              (std::vector<std::string>{"i", "with", "respect"}));
    // Bench lines: a spoken term misheard as another is a misreading, not a made-up word.
    EXPECT_TRUE(S::inventedLatinWords("CPUの使用率が高すぎます。", "GPUの使用率が高すぎます").empty());
    EXPECT_TRUE(S::inventedLatinWords("Excelの表を見てください。", "XLの表を見てくださ").empty());
    EXPECT_EQ(S::inventedLatinWords("PDFにしてメールで送ります。", "VDFにして mail で送ります"),
              (std::vector<std::string>{"mail"}));
    EXPECT_EQ(S::inventedLatinWords("大丈夫。", "大 job"), (std::vector<std::string>{"job"}));
}

TEST(RecognitionScoring, CountsADecoderLoopOnceAndLeavesSpokenRepeats)
{
    EXPECT_EQ(S::repeatedPhrases("今日は雨なので。", "今日は雨なので、 今日は雨なので。"), 1u);
    EXPECT_EQ(S::repeatedPhrases("この件については。", "この件については、この件については、この件については"), 1u);
    EXPECT_EQ(S::repeatedPhrases("はいはい、そうです。", "はいはい、そうです"), 0u) << "short repeats are speech";
    EXPECT_EQ(S::repeatedPhrases("どんどんどんどん増えます。", "どんどんどんどん増えます"), 0u)
        << "the reference repeats it too";
    EXPECT_EQ(S::repeatedPhrases("資料を送ります。", "資料を送ります。"), 0u);
    EXPECT_EQ(S::repeatedPhrases("一応、先方には確認したんですけど。", "1億先方には確認したんですけど"), 0u)
        << "a number's zeros";
    EXPECT_EQ(S::repeatedPhrases("すみません、もう一度お願いします。", "もう一度、もう一度。"), 1u);
}

} // namespace
