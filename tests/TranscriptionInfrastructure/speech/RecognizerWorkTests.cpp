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

// A sentence held at a comma, joined with the utterance that continues it and taken apart again (the joined text
// may have left a part out), gives back each part's audio and times; a joined work held again joins once more.
TEST(RecognizerWork, AHeldPartAndItsRestComeApartAsTheyWereJoined)
{
    const auto held = utterance(3, 10.0, 11.5, 1.0F), rest = utterance(4, 12.1, 14.0, 2.0F);
    auto continued = rest;
    continued.pauseSamples = 7;
    const auto whole = RecognizerWork::joined(held, "この件については、", continued);
    EXPECT_EQ(whole.index, 4U);
    EXPECT_EQ(whole.heldText, "この件については、");
    EXPECT_DOUBLE_EQ(whole.start, 10.0);
    EXPECT_DOUBLE_EQ(whole.end, 14.0);
    ASSERT_EQ(whole.samples.size(), held.samples.size() + rest.samples.size());

    const auto heldPart = whole.heldPart();
    EXPECT_EQ(heldPart.samples, held.samples);
    EXPECT_DOUBLE_EQ(heldPart.start, 10.0);
    EXPECT_DOUBLE_EQ(heldPart.end, 11.5);
    const auto restPart = whole.rest();
    EXPECT_EQ(restPart.samples, rest.samples);
    EXPECT_DOUBLE_EQ(restPart.start, 12.1);
    EXPECT_DOUBLE_EQ(restPart.end, 14.0);
    EXPECT_EQ(restPart.pauseSamples, 7U);
    EXPECT_TRUE(restPart.heldText.empty());

    const auto again = RecognizerWork::joined(whole, "この件については、田中さんに", utterance(5, 15.0, 16.0, 3.0F));
    EXPECT_EQ(again.heldPart().samples, whole.samples);
    EXPECT_DOUBLE_EQ(again.heldPart().end, 14.0);
    EXPECT_DOUBLE_EQ(again.rest().start, 15.0);
}

} // namespace
} // namespace tc
