#include "TranscriptionInfrastructure/speech/UnsureLatin.h"
#include "TranscriptionInfrastructure/speech/UtteranceDecoder.h"

#include <gtest/gtest.h>

namespace tc {
namespace {

TEST(UnsureLatin, WordsInsideJapaneseTheDecoderWasUnsureOfAreDropped)
{
    using UnsureLatin::TokenPiece;
    const DecodingPolicy policy;
    const UnsureLatin::Thresholds thresholds{.capitalized = policy.unsureLatinProbability,
                                             .lowercase = policy.unsureLowercaseLatinProbability,
                                             .termBeforeParticle = policy.unsureLatinTermProbability};
    const auto withoutUnsure = [&](const std::vector<TokenPiece>& pieces) {
        return UnsureLatin::joinedWithout(pieces, thresholds);
    };
    const std::vector<TokenPiece> invented{{"テスト", 0.9}, {"の結果", 0.8}, {"です", 0.9}, {" r", 0.1}, {"uler", 0.3}};
    EXPECT_EQ(withoutUnsure(invented), "テストの結果です") << "the decoders the app makes drop them";
    EXPECT_EQ(UnsureLatin::joinedWithout(invented, {}), "テストの結果です ruler") << "switched off, nothing is dropped";
    EXPECT_EQ(withoutUnsure({{"API", 0.8}, {"の仕様を", 0.9}, {"確認", 0.9}}), "APIの仕様を確認")
        << "a term heard clearly stays";
    EXPECT_EQ(withoutUnsure({{" thank", 0.2}, {" you", 0.3}}), " thank you")
        << "English without Japanese around it stays";
    // A kanji split across two pieces still counts as Japanese.
    EXPECT_EQ(withoutUnsure({{"\xE6\x97", 0.9}, {"\xA5", 0.9}, {" I", 0.2}}), "日");

    // The Latin pieces and their probabilities as the base model wrote them for the evaluation set's voices. Terms
    // that were spoken stay, however unsure the decoder was of their first letters...
    EXPECT_EQ(withoutUnsure({{"会議は", 0.9}, {"Z", 0.232}, {"o", 0.525}, {"om", 0.996}, {"で繋ぎます。", 0.9}}),
              "会議はZoomで繋ぎます。");
    EXPECT_EQ(withoutUnsure({{"i", 0.677}, {"Phone", 0.987}, {"のアプリを更新しました", 0.9}}),
              "iPhoneのアプリを更新しました");
    EXPECT_EQ(withoutUnsure({{"AI", 0.467}, {"を使って", 0.9}}), "AIを使って");
    // ...while a lowercase word put to kana the decoder misheard goes, even when it sounded surer than those.
    EXPECT_EQ(withoutUnsure({{"月額の利用量", 0.8}, {"a", 0.630}, {"に1980円です", 0.9}}), "月額の利用量に1980円です");
    EXPECT_EQ(withoutUnsure({{"パスワードを変更してから", 0.9}, {" log", 0.424}, {" ", 0.5}, {"員してください", 0.6}}),
              "パスワードを変更してから 員してください"); // the space goes with the other spaces between kana
    EXPECT_EQ(withoutUnsure({{"次の", 0.9}, {"me", 0.499}, {"ating", 0.496}, {"はオンラインで", 0.9}}),
              "次のはオンラインで");

    // At pink 10 dB. A term the speaker used as a noun stays, however unsure its letters, where a particle follows.
    EXPECT_EQ(withoutUnsure({{"AI", 0.271}, {"を", 0.95}, {"使", 0.99}, {"って", 0.99}}), "AIを使って");
    EXPECT_EQ(withoutUnsure({{"C", 0.24}, {"PU", 0.25}, {" ", 0.5}, {"の", 0.90}, {"使用率", 0.9}}), "CPU の使用率");
    EXPECT_EQ(withoutUnsure({{"U", 0.14}, {"R", 0.46}, {"L", 0.56}, {"をチャットに", 0.9}}), "URLをチャットに");
    EXPECT_EQ(withoutUnsure({{"会議は", 0.9}, {" Zo", 0.3}, {"om", 0.3}, {"で", 0.9}}), "会議は Zoomで");
    EXPECT_EQ(withoutUnsure({{"はい、", 0.9}, {"AI", 0.3}, {"を使います", 0.9}}), "はい、AIを使います");
    // The capitalised words it made up at the start were less sure still; those glued to what comes before are the
    // decoder's letters for kana it misheard; English phrases are no term.
    EXPECT_EQ(withoutUnsure({{"B", 0.08}, {"J", 0.14}, {"は全部で", 0.9}}), "は全部で");
    EXPECT_EQ(withoutUnsure({{"この部屋には", 0.9}, {"S", 0.395}, {"が600あります", 0.9}}),
              "この部屋にはが600あります");
    EXPECT_EQ(withoutUnsure({{"サイズは25", 0.9}, {"m", 0.3}, {"B", 0.36}, {"です", 0.9}}), "サイズは25です");
    EXPECT_EQ(
        withoutUnsure(
            {{"次の", 0.9}, {"Making", 0.15}, {" the", 0.09}, {" Modern", 0.03}, {" Line", 0.33}, {"で行います", 0.9}}),
        "次ので行います");
    // Before anything but a particle the word needs the usual probability.
    EXPECT_EQ(withoutUnsure({{"AI", 0.271}, {"使って", 0.9}}), "使って");
}

} // namespace
} // namespace tc
