#include "TranscriptionInfrastructure/speech/RecognizedText.h"
#include "TranscriptionInfrastructure/speech/UtteranceDecoder.h"

#include <gtest/gtest.h>

namespace tc {
namespace {

namespace T = RecognizedText;

TEST(RecognizedText, AssemblyNeverSplitsACharacter)
{
    // "日本" is E6 97 A5 E6 9C AC; engine tokens may end anywhere inside it.
    const std::string whole = "日本";
    for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
        const std::string text = T::completeUtf8(whole.substr(0, cut));
        EXPECT_EQ(text, whole.substr(0, cut / 3 * 3)) << cut;
    }
    // Stray bytes elsewhere are left out; overlong forms and surrogates are malformed.
    EXPECT_EQ(T::completeUtf8("a\x80"
                              "b\xff"
                              "c"),
              "abc");
    EXPECT_EQ(T::completeUtf8("\xC0\xAF"
                              "x"),
              "x");
    EXPECT_EQ(T::completeUtf8("\xED\xA0\x80"
                              "y"),
              "y");
    EXPECT_EQ(T::completeUtf8("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(T::completeUtf8("\xE6\x97"
                              "a"),
              "a")
        << "a sequence broken by an ASCII byte is dropped, the byte kept";
}

TEST(RecognizedText, TrimsIdeographicSpaceToo)
{
    EXPECT_EQ(T::trimmed("\u3000 こんにちは \n"), "こんにちは");
    EXPECT_EQ(T::trimmed(" \u3000 "), "");
    EXPECT_EQ(T::trimmed("a b"), "a b");
}

TEST(RecognizedText, ComparisonIgnoresPunctuationWidthAndSpaces)
{
    EXPECT_EQ(T::normalizedForComparison("ＡＢＣ１２３、 ｄｅｆ。「引用」！？…"), U"abc123def引用");
    EXPECT_EQ(T::normalizedForComparison("ラーメン・ライス"), U"ラーメンライス") << "the long vowel mark is a letter";
    EXPECT_DOUBLE_EQ(T::characterErrorRate("明日の会議は午後3時からです。", "明日の会議は午後３時からです"), 0.0);
    EXPECT_DOUBLE_EQ(T::characterErrorRate("あいうえ", "あいえ"), 0.25);
    EXPECT_DOUBLE_EQ(T::characterErrorRate("あいうえ", "かいうえお"), 0.5);
    EXPECT_DOUBLE_EQ(T::characterErrorRate("", ""), 0.0);
    EXPECT_DOUBLE_EQ(T::characterErrorRate("。", "あ"), 1.0);
}

TEST(RecognizedText, KnowsThePhrasesInventedOverSilence)
{
    EXPECT_TRUE(T::isNonSpeechPhrase("ご視聴ありがとうございました"));
    EXPECT_TRUE(T::isNonSpeechPhrase("ご視聴ありがとうございました。"));
    EXPECT_TRUE(T::isNonSpeechPhrase(" チャンネル登録よろしくお願いします! "));
    EXPECT_TRUE(T::isNonSpeechPhrase("Thank you for watching."));
    EXPECT_TRUE(T::isNonSpeechPhrase("(音楽)"));
    EXPECT_TRUE(T::isNonSpeechPhrase("♪"));
    EXPECT_TRUE(T::isNonSpeechPhrase(""));
    // Real sentences that merely contain such words stay.
    EXPECT_FALSE(T::isNonSpeechPhrase("ご視聴ありがとうございました、と言って番組が終わった"));
    EXPECT_FALSE(T::isNonSpeechPhrase("音楽を聴きます"));
    EXPECT_FALSE(T::isNonSpeechPhrase("お疲れ様でした。"));
}

} // namespace
} // namespace tc

TEST(RecognizedText, RepetitionLoopsKeepOneCopy)
{
    using tc::RecognizedText::withoutRepetitionLoops;
    EXPECT_EQ(withoutRepetitionLoops(
                  "その件は佐藤さんに確認してみます。その件は佐藤さんに確認してみます。その件は佐藤さんに確認"
                  "してみます。その件は佐藤さんに確認してみ"),
              "その件は佐藤さんに確認してみます。");
    EXPECT_EQ(withoutRepetitionLoops("はい。会議を始めます。会議を始めます。では資料を"),
              "はい。会議を始めます。では資料を");
    EXPECT_EQ(withoutRepetitionLoops("ありがとうありがとうありがとう"), "ありがとう");
    // As the base model wrote it for a recording of "どちらの案がいいと思いますか。", each copy a segment.
    EXPECT_EQ(withoutRepetitionLoops("どちらの案外いいと思いますか。 どちらの案外いいと思いますか。"),
              "どちらの案外いいと思いますか。");
    // What people really say twice, or short repeats, stays.
    EXPECT_EQ(withoutRepetitionLoops("はいはい、わかりました"), "はいはい、わかりました");
    EXPECT_EQ(withoutRepetitionLoops("ははは、そうですね"), "ははは、そうですね");
    EXPECT_EQ(withoutRepetitionLoops("どうもどうも"), "どうもどうも");
    EXPECT_EQ(withoutRepetitionLoops(""), "");
}

TEST(RecognizedText, UnsureLatinWordsInsideJapaneseAreDropped)
{
    using tc::RecognizedText::TokenPiece;
    using tc::RecognizedText::withoutUnsureLatin;
    const std::vector<TokenPiece> invented{{"テスト", 0.9}, {"の結果", 0.8}, {"です", 0.9}, {" r", 0.1}, {"uler", 0.3}};
    EXPECT_EQ(withoutUnsureLatin(invented, 0.5), "テストの結果です");
    EXPECT_EQ(withoutUnsureLatin(invented, 0), "テストの結果です ruler") << "switched off, nothing is dropped";
    const std::vector<TokenPiece> heard{{"API", 0.8}, {"の仕様を", 0.9}, {"確認", 0.9}};
    EXPECT_EQ(withoutUnsureLatin(heard, 0.5), "APIの仕様を確認") << "a term heard clearly stays";
    const std::vector<TokenPiece> english{{" thank", 0.2}, {" you", 0.3}};
    EXPECT_EQ(withoutUnsureLatin(english, 0.5), " thank you") << "English without Japanese around it stays";
    // A kanji split across two pieces still counts as Japanese.
    const std::vector<TokenPiece> split{{"\xE6\x97", 0.9}, {"\xA5", 0.9}, {" I", 0.2}};
    EXPECT_EQ(withoutUnsureLatin(split, 0.5), "日");
    // The decoders the app makes drop them.
    EXPECT_EQ(withoutUnsureLatin(invented, tc::DecodingPolicy{}.unsureLatinProbability), "テストの結果です");
    EXPECT_EQ(withoutUnsureLatin(heard, tc::DecodingPolicy{}.unsureLatinProbability), "APIの仕様を確認");
}
