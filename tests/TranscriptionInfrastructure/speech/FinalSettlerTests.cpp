#include "TranscriptionInfrastructure/speech/FinalSettler.h"

#include <gtest/gtest.h>

namespace tc {
namespace {

using Kind = FinalSettler::Step::Kind;

// 100 samples a second keep the numbers readable; 0.3 s of every utterance come before its speech.
FinalSettler settler(bool divide = true)
{
    return FinalSettler({.divideAtInnerPauses = divide, .leadSamples = 30, .sampleRate = 100});
}

RecognizerWork utterance(std::size_t index, double start, double end)
{
    RecognizerWork work;
    work.kind = RecognizerWork::Kind::final;
    work.index = index;
    work.start = start;
    work.end = end;
    work.samples.assign(static_cast<std::size_t>((end - start) * 100), 0.5F);
    return work;
}

std::vector<std::string> texts(const std::vector<FinalSettler::Step>& steps)
{
    std::vector<std::string> out;
    for (const auto& step : steps)
        out.push_back(step.text);
    return out;
}

// Three sentences run together, with a pause at each sentence end and one at a comma: a line for each sentence, its
// time divided at its pause; only the last may still be held for more. The second pause is the surer one: the part
// before it is divided again.
TEST(FinalSettler, SentencesRunTogetherSettleOneLineEachAtTheirPauses)
{
    auto work = utterance(4, 10.0, 19.3);
    work.pauseSamples = 30;
    // Speech from 0.3 s to 9.0 s: the sentences end near 3.2 s and 6.8 s, the comma lies near 4.6 s.
    work.innerPauses = {{300, 40}, {440, 30}, {663, 40}};
    const std::string text = "明日の会議は午後3時からです。資料は、金曜日までに送ってください。よろしくお願いします";

    const auto steps = settler().steps(work, text);
    ASSERT_EQ(steps.size(), 3U);
    EXPECT_EQ(texts(steps), (std::vector<std::string>{"明日の会議は午後3時からです。",
                                                      "資料は、金曜日までに送ってください。", "よろしくお願いします"}));
    EXPECT_EQ(steps[0].kind, Kind::settle);
    EXPECT_EQ(steps[1].kind, Kind::settle);
    EXPECT_EQ(steps[2].kind, Kind::settleOrHold);
    EXPECT_DOUBLE_EQ(steps[0].work.start, 10.0);
    EXPECT_DOUBLE_EQ(steps[0].work.end, 13.2);
    EXPECT_DOUBLE_EQ(steps[1].work.start, 13.2);
    EXPECT_DOUBLE_EQ(steps[1].work.end, 16.83);
    EXPECT_DOUBLE_EQ(steps[2].work.end, 19.3);
    EXPECT_EQ(steps[2].work.pauseSamples, 30U);

    const auto whole = settler(false).steps(work, text);
    ASSERT_EQ(whole.size(), 1U);
    EXPECT_EQ(whole[0].text, text);
}

// A joined decoding that lost the held part has the rest decoded alone first; the two readings then settle as two
// lines, or as the joined one when it holds clearly more than either.
TEST(FinalSettler, AJoinedReadingThatLostAPartWaitsForTheRestDecodedAlone)
{
    const auto held = utterance(1, 0.0, 2.0), rest = utterance(2, 2.6, 5.0);
    const auto joined = RecognizerWork::joined(held, "会議では", rest);

    auto settling = settler();
    const auto first = settling.steps(joined, "予算を見直します。");
    ASSERT_EQ(first.size(), 1U);
    EXPECT_EQ(first[0].kind, Kind::decodeAlone);
    EXPECT_EQ(first[0].work.samples.size(), rest.samples.size());
    EXPECT_DOUBLE_EQ(first[0].work.start, 2.6);
    const auto apart = settling.steps(first[0].work, "予算を見直します。");
    EXPECT_EQ(texts(apart), (std::vector<std::string>{"会議では", "予算を見直します。"}));
    EXPECT_EQ(apart[0].kind, Kind::settle);
    EXPECT_DOUBLE_EQ(apart[0].work.end, 2.0);
    EXPECT_EQ(apart[1].kind, Kind::settleOrHold);
    EXPECT_EQ(texts(settling.steps(rest, "予算を見直します。")), (std::vector<std::string>{"予算を見直します。"}))
        << "the join is settled: a later reading of the rest stands alone";

    // The held kana read as kanji with more of the sentence to go by: the joined reading stands.
    ASSERT_EQ(settling.steps(RecognizerWork::joined(held, "かいぎでは", rest), "会議では予算を見直します。")[0].kind,
              Kind::decodeAlone);
    const auto together = settling.steps(first[0].work, "予算を見直します。");
    ASSERT_EQ(together.size(), 1U);
    EXPECT_EQ(together[0].text, "会議では予算を見直します。");
    EXPECT_DOUBLE_EQ(together[0].work.start, 0.0);

    // Read by the decoder in pink noise: the held part in katakana came back shorter, in kanji, before what the rest
    // alone reads. The joined reading stands; a joined reading that gave back only the held part does not.
    const auto chuseki = RecognizerWork::joined(held, "チューセキリツは", rest);
    ASSERT_EQ(settling.steps(chuseki, "出席率は87%でした")[0].kind, Kind::decodeAlone);
    EXPECT_EQ(texts(settling.steps(first[0].work, "87%でした")), (std::vector<std::string>{"出席率は87%でした"}));
    ASSERT_EQ(settling.steps(chuseki, "チューセキリツは")[0].kind, Kind::decodeAlone);
    EXPECT_EQ(texts(settling.steps(first[0].work, "87%でした")),
              (std::vector<std::string>{"チューセキリツは", "87%でした"}));

    // Without the rest's own ending, the joined reading stands only when it is longer than the held part by half
    // the rest: 8 + 1 characters here.
    const auto long_ = RecognizerWork::joined(held, "あいうえおかきく", rest);
    ASSERT_EQ(settling.steps(long_, "さしすせそたちつ")[0].kind, Kind::decodeAlone);
    EXPECT_EQ(texts(settling.steps(first[0].work, "けこ")), (std::vector<std::string>{"あいうえおかきく", "けこ"}));
    ASSERT_EQ(settling.steps(long_, "さしすせそたちつて")[0].kind, Kind::decodeAlone);
    EXPECT_EQ(texts(settling.steps(first[0].work, "けこ")), (std::vector<std::string>{"さしすせそたちつて"}));

    // A joined reading the gates dropped whole (English made up by a sampled retry), and the rest alone dropped too:
    // the held part still settles.
    ASSERT_EQ(settling.steps(joined, "")[0].kind, Kind::decodeAlone);
    EXPECT_EQ(texts(settling.steps(first[0].work, "")), (std::vector<std::string>{"会議では"}));
}

} // namespace
} // namespace tc
