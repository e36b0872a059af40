#include "TranscriptionInfrastructure/speech/RecognizedText.h"

#include <gtest/gtest.h>

namespace tc {
namespace {

namespace T = RecognizedText;

TEST(RecognizedText, AssemblyNeverSplitsACharacter)
{
    // "日本" is E6 97 A5 E6 9C AC; engine tokens may end anywhere inside it.
    const std::string whole = "日本";
    for (std::size_t cut = 0; cut <= whole.size(); ++cut)
        EXPECT_EQ(T::completeUtf8(whole.substr(0, cut)), whole.substr(0, cut / 3 * 3)) << cut;
    // Stray bytes elsewhere are left out; overlong forms and surrogates are malformed (bytes in octal).
    const std::vector<std::pair<std::string, std::string>> cases{
        {"a\200b\377c", "abc"}, {"\300\257x", "x"}, {"\355\240\200y", "y"}, {"\360\237\230\200", "\360\237\230\200"},
        {"\346\227a", "a"}, // a sequence broken by an ASCII byte is dropped, the byte kept
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(T::completeUtf8(bytes), text);
}

TEST(RecognizedText, TrimsIdeographicSpaceAndComparesIgnoringPunctuationWidthAndSpaces)
{
    EXPECT_EQ(T::trimmed("\u3000 こんにちは \n"), "こんにちは");
    EXPECT_EQ(T::trimmed(" \u3000 "), "");
    EXPECT_EQ(T::trimmed("a b"), "a b");
    EXPECT_EQ(T::normalizedForComparison("ＡＢＣ１２３、 ｄｅｆ。「引用」！？…"), U"abc123def引用");
    EXPECT_EQ(T::normalizedForComparison("ラーメン・ライス"), U"ラーメンライス") << "the long vowel mark is a letter";
}

TEST(RecognizedText, KnowsThePhrasesInventedOverSilence)
{
    for (const char* phrase : {"ご視聴ありがとうございました", "ご視聴ありがとうございました。",
                               " チャンネル登録よろしくお願いします! ", " チャンネル登録よろしくお願いします！ ",
                               "Thank you for watching.", "(音楽)", "♪", "", "Thank you for watching today's video."})
        EXPECT_TRUE(T::isNonSpeechPhrase(phrase)) << phrase;
    // Real sentences that merely contain such words stay.
    for (const char* sentence :
         {"ご視聴ありがとうございました、と言って番組が終わった", "音楽を聴きます", "お疲れ様でした。"})
        EXPECT_FALSE(T::isNonSpeechPhrase(sentence)) << sentence;
}

TEST(RecognizedText, RepetitionLoopsKeepOneCopy)
{
    const std::vector<std::pair<std::string, std::string>> cases{
        {"その件は佐藤さんに確認してみます。その件は佐藤さんに確認してみます。その件は佐藤さんに確認してみます。"
         "その件は佐藤さんに確認してみ",
         "その件は佐藤さんに確認してみます。"},
        {"はい。会議を始めます。会議を始めます。では資料を", "はい。会議を始めます。では資料を"},
        {"ありがとうありがとうありがとう", "ありがとう"},
        // As the base model wrote it for a recording of "どちらの案がいいと思いますか。", each copy a segment.
        {"どちらの案外いいと思いますか。 どちらの案外いいと思いますか。", "どちらの案外いいと思いますか。"},
        // As it wrote jf_tebukuro's "もし可能であれば、" (cut at the comma's pause): the copies end differently.
        {"もし可能であれば、もし可能であれば。", "もし可能であれば、"},
        // The base model running on past a sentence in a reverberant room: a half copy, then pieces of it.
        {"人事移動の発表は結末になります人事移動の発表は結末にな発表は結末にな発表", "人事移動の発表は結末になります"},
        // What people really say twice, or short repeats, stays; so does a sentence starting as the last one did.
        {"来週の会議では予算を決めます。来週の会議では人事を決めます。",
         "来週の会議では予算を決めます。来週の会議では人事を決めます。"},
        {"はいはい、わかりました", "はいはい、わかりました"},
        {"ははは、そうですね", "ははは、そうですね"},
        {"どうもどうも", "どうもどうも"},
        {"", ""},
    };
    for (const auto& [decoded, kept] : cases)
        EXPECT_EQ(T::withoutRepetitionLoops(decoded), kept);
}

TEST(RecognizedText, TextIsDividedAtTheSentenceEndNearestTheGivenLengthWithWordsAfterIt)
{
    using Parts = std::pair<std::string, std::string>;
    EXPECT_EQ(T::splitAtSentenceEndNear("はい。わかりました。それでお願いします。", 8),
              (Parts{"はい。わかりました。", "それでお願いします。"}));
    EXPECT_EQ(T::splitAtSentenceEndNear("本当ですか？！ 明日です", 0), (Parts{"本当ですか？！", "明日です"}));
    EXPECT_FALSE(T::splitAtSentenceEndNear("会議では、予算を見直します。」", 5));
    // A full stop the decoder put at a pause after a particle ends no sentence.
    EXPECT_FALSE(T::splitAtSentenceEndNear("来週の会議では、予算の見直しと。新しい担当者の紹介を行います。", 13));
    EXPECT_EQ(T::splitAtSentenceEndNear("こんにちは。新しい担当者です。", 5),
              (Parts{"こんにちは。", "新しい担当者です。"}));

    // Sentences run together that the decoder wrote without their full stops (fast talk, live): divided after a
    // polite ending when asked, unless a particle or conjunction goes on from it.
    const std::string moved = "去年の11月に引越しました先ほどの説明でわからないところがあれば遠慮なく聞いてください";
    EXPECT_FALSE(T::splitAtSentenceEndNear(moved, 12));
    EXPECT_EQ(T::splitAtSentenceEndNear(moved, 12, true),
              (Parts{"去年の11月に引越しました。", "先ほどの説明でわからないところがあれば遠慮なく聞いてください"}));
    EXPECT_EQ(T::splitAtSentenceEndNear("次の打ち合わせはいつにしましょうか今日は雨なので", 15, true),
              (Parts{"次の打ち合わせはいつにしましょうか。", "今日は雨なので"}));
    EXPECT_EQ(T::splitAtSentenceEndNear("マーケティングのチームと相談しますAIを使っています", 15, true),
              (Parts{"マーケティングのチームと相談します。", "AIを使っています"}));
    for (const char* going : {"売り上げは15%増えましたので来月も続けます", "確認しましたが問題はありませんでした",
                              "届きましたら連絡してください", "資料は届いていますけど確認していません"})
        EXPECT_FALSE(T::splitAtSentenceEndNear(going, 10, true)) << going;
}

TEST(RecognizedText, ASentenceCutShortEndsInACommaAParticleOrANoun)
{
    // Finals the decoder gave at a speaker's pause, and whole ones.
    for (const char* cut : {"この件については、", "来週の会議では", "金曜日で", "小林さん", "今月の問いは約500円",
                            "来週の会議では、予算の見直しと。", "申し訳ありませんが。", "のひんびは。",
                            "もし可能であれば、金曜日の午前中までに。"})
        EXPECT_TRUE(T::endsMidSentence(cut, true, true)) << cut;
    for (const char* whole : {"ありがとうございました。", "お疲れ様でした", "こんにちは", "はい、大丈夫です",
                              "こんにちは。", "次の会議は5月20日の午前10時からです。", "ちょっと待って。", "私も。",
                              "参加者は全部で12人です",
                              // Sentences that end in a clause or a number: held, they took the next sentence into
                              // their line whenever it began within the hold.
                              "それならいいんだけど", "会議は3時からだから", "今日はお休みなの", "年のため",
                              "3つもりは合計で1500"})
        EXPECT_FALSE(T::endsMidSentence(whole, true, true)) << whole;
    EXPECT_TRUE(T::endsMidSentence("この件については、", false, false));
    EXPECT_FALSE(T::endsMidSentence("来週の会議では", false, true));
    EXPECT_FALSE(T::endsMidSentence("小林さん", true, false));
    EXPECT_FALSE(T::endsMidSentence("お疲れ様", true, false)) << "a greeting ending in a noun";
}

TEST(RecognizedText, ANameAndTitleAloneAddressesSomeone)
{
    for (const char* address : {"小林さん", "小林さん。", "田中様", "山本先生", "マイクさん"})
        EXPECT_TRUE(T::addressesSomeone(address)) << address;
    for (const char* other : {"担当は田中さん。", "お疲れ様", "お客様。", "わたなべさん", "さん", "小林さん、議事録を",
                              "次の発表は山本さん。"})
        EXPECT_FALSE(T::addressesSomeone(other)) << other;
}

TEST(RecognizedText, QuestionAndExclamationMarksAfterJapaneseAreFullWidth)
{
    // As the base model wrote them for Mei's questions and for jm_kumo.
    EXPECT_EQ(T::withJapanesePunctuation("来週の会議は何時からです?"), "来週の会議は何時からです？");
    EXPECT_EQ(T::withJapanesePunctuation("おはよう!今日もよろしく!"), "おはよう！今日もよろしく！");
    // As it wrote jm_kumo 25 dB quieter; spaces beside Latin words stay.
    EXPECT_EQ(T::withJapanesePunctuation("移動さんに 資料を 渡してください"), "移動さんに資料を渡してください");
    EXPECT_EQ(T::withJapanesePunctuation("会議は Zoom で つなぎます。 次に"), "会議は Zoom でつなぎます。次に");
    EXPECT_EQ(T::withJapanesePunctuation("APIの仕様は?OK?"), "APIの仕様は？OK?");
    EXPECT_EQ(T::withJapanesePunctuation("?"), "?");
}

} // namespace
} // namespace tc
