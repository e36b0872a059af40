#include "TranscriptionInfrastructure/speech/RecognizerWork.h"

#include <gtest/gtest.h>

namespace tc {
namespace {

RecognizerWork utterance(std::size_t index, double start, double end, float value)
{
    RecognizerWork work;
    work.kind = RecognizerWork::Kind::final;
    work.index = index;
    work.start = start;
    work.end = end;
    work.samples.assign(static_cast<std::size_t>((end - start) * 100), value);
    return work;
}

// Where each pause begins, in samples from its work's start.
std::vector<std::size_t> pauseStarts(const RecognizerWork& work)
{
    std::vector<std::size_t> starts;
    for (const InnerPause& pause : work.innerPauses)
        starts.push_back(pause.at);
    return starts;
}

// A sentence held at a comma, joined with the utterance that continues it and taken apart again (the joined text
// may have left a part out), gives back each part's audio and times; a joined work held again joins once more.
TEST(RecognizerWork, AHeldPartAndItsRestComeApartAsTheyWereJoined)
{
    auto held = utterance(3, 10.0, 11.5, 1.0F), rest = utterance(4, 12.1, 14.0, 2.0F);
    held.innerPauses = {{40, 20}};
    rest.innerPauses = {{50, 30}};
    auto continued = rest;
    continued.pauseSamples = 7;
    const auto whole = RecognizerWork::joined(held, "この件については、", continued);
    EXPECT_EQ(whole.index, 4U);
    // Both parts' pauses, the rest's counted from the held part's start: either may be where the line divides.
    EXPECT_EQ(pauseStarts(whole), (std::vector<std::size_t>{40, 150 + 50}));
    EXPECT_EQ(whole.heldText, "この件については、");
    EXPECT_DOUBLE_EQ(whole.start, 10.0);
    EXPECT_DOUBLE_EQ(whole.end, 14.0);
    ASSERT_EQ(whole.samples.size(), held.samples.size() + rest.samples.size());

    const auto heldPart = whole.heldPart();
    EXPECT_EQ(heldPart.samples, held.samples);
    EXPECT_DOUBLE_EQ(heldPart.start, 10.0);
    EXPECT_DOUBLE_EQ(heldPart.end, 11.5);
    EXPECT_EQ(pauseStarts(heldPart), pauseStarts(held));
    const auto restPart = whole.rest();
    EXPECT_EQ(restPart.samples, rest.samples);
    EXPECT_DOUBLE_EQ(restPart.start, 12.1);
    EXPECT_DOUBLE_EQ(restPart.end, 14.0);
    EXPECT_EQ(restPart.pauseSamples, 7U);
    EXPECT_EQ(pauseStarts(restPart), pauseStarts(rest));
    EXPECT_TRUE(restPart.heldText.empty());

    const auto again = RecognizerWork::joined(whole, "この件については、田中さんに", utterance(5, 15.0, 16.0, 3.0F));
    EXPECT_EQ(again.heldPart().samples, whole.samples);
    EXPECT_DOUBLE_EQ(again.heldPart().end, 14.0);
    EXPECT_DOUBLE_EQ(again.rest().start, 15.0);
}

// Two sentences a fast talker ran together came as one utterance with a short pause between them: the text divides
// at the sentence end the pause stands for, and the audio at the pause. A pause at a comma, a full stop the decoder
// put after a particle, or a pause far from any sentence end divides nothing.
TEST(RecognizerWork, AFinalDividesAtTheSentenceEndItsInnerPauseStandsFor)
{
    // 6 s at 100 samples a second: 0.3 s before the speech, 0.5 s of end pause.
    auto work = utterance(7, 20.0, 26.0, 1.0F);
    work.pauseSamples = 50;
    work.innerPauses = {{100, 30}, {320, 40}};
    const std::string text = "今月の問い合わせは15%増えました。来週の会議は火曜日です。";
    const auto division = work.divisionAtPause(text, 30);
    ASSERT_TRUE(division);
    EXPECT_EQ(division->first, "今月の問い合わせは15%増えました。");
    EXPECT_EQ(division->second, "来週の会議は火曜日です。");
    EXPECT_EQ(division->sample, 340U);

    const auto [first, second] = work.dividedAt(division->sample, 100);
    EXPECT_DOUBLE_EQ(first.start, 20.0);
    EXPECT_DOUBLE_EQ(first.end, 23.4);
    EXPECT_DOUBLE_EQ(second.start, 23.4);
    EXPECT_DOUBLE_EQ(second.end, 26.0);
    EXPECT_EQ(first.samples.size() + second.samples.size(), work.samples.size());
    EXPECT_EQ(first.index, 7U);
    EXPECT_EQ(second.index, 7U);
    EXPECT_EQ(second.pauseSamples, 50U);
    ASSERT_EQ(first.innerPauses.size(), 1U);
    EXPECT_EQ(first.innerPauses[0].at, 100U);
    EXPECT_TRUE(second.innerPauses.empty());

    EXPECT_FALSE(work.divisionAtPause("この件については、田中さんに確認してもらいます。", 30));
    EXPECT_FALSE(work.divisionAtPause("来週の会議では。予算の見直しについて話します。", 30));
    // A short clause the decoder closed with a full stop at the speaker's comma pause.
    auto reply = work;
    reply.innerPauses = {{180, 40}};
    EXPECT_FALSE(reply.divisionAtPause("いいですね。それで進めましょう。", 30));
    // Over a long utterance the decoder often leaves the full stop out: a polite ending at the pause divides too.
    auto unpunctuated = work;
    unpunctuated.innerPauses = {{170, 34}};
    const auto moved = unpunctuated.divisionAtPause(
        "去年の11月に引越しました先ほどの説明でわからないところがあれば遠慮なく聞いてください", 30);
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->first, "去年の11月に引越しました。");
    EXPECT_EQ(moved->sample, 187U);
    auto early = work;
    early.innerPauses = {{100, 30}};
    EXPECT_FALSE(early.divisionAtPause(text, 30));
    // A joined work was divided where its held part ends.
    auto joined = work;
    joined.heldText = "今月の問い合わせは";
    EXPECT_FALSE(joined.divisionAtPause(text, 30));
}

} // namespace
} // namespace tc
