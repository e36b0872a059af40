#include "TranscriptionInfrastructure/speech/SentenceContinuation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(SentenceContinuation, TellsWordsASentenceGoesOnAfterFromTheirLookAlikesThatEndOne)
{
    tc::SentenceContinuation continuation;
    ASSERT_TRUE(continuation.isAvailable()) << "MeCab or its dictionary is missing: run scripts/setup";
    // The decoder's readings of sentences a pause cut in two, and parts a long pause closed with a full stop.
    for (const std::string text :
         {"フライアントから", "スプッチ合わせバージェクトの", "プロジェクトの",
          "まつ現状を整理して、次に課題を割られ出し", "新しいシステムへ", "資料を作成し。", "東京より"})
        EXPECT_TRUE(continuation.goesOnAfter(text)) << text;
    // Sentences that end so in talk, requests, quotes, and what the particle and noun rules decide alone.
    for (const std::string text : {"会議は3時からだから", "それならいいんだけど", "今日はお休みなの", "そうなの？",
                                   "念のため", "担当は田中さん", "資料を見てください", "Slackで連絡をください",
                                   "彼も来るって", "確認したところ", "予算を見直します。", "早く", "", "。"})
        EXPECT_FALSE(continuation.goesOnAfter(text)) << text;
}

} // namespace
