#include "TranscriptionDomain/AudioFrame.h"
#include "TranscriptionDomain/BlankText.h"
#include "TranscriptionDomain/Utterance.h"
#include "TranscriptionDomain/Uuid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <unordered_set>

using namespace tc;

TEST(Uuid, WritesUpperCaseVersion4AndReadsEitherCase)
{
    const auto id = Uuid::random();
    const auto text = id.toString();
    ASSERT_EQ(text.size(), 36u);
    EXPECT_EQ(text[14], '4');
    EXPECT_TRUE(text[19] == '8' || text[19] == '9' || text[19] == 'A' || text[19] == 'B');
    for (char c : text)
        EXPECT_FALSE(c >= 'a' && c <= 'z');

    const auto lower = Uuid::fromString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    ASSERT_TRUE(lower);
    EXPECT_EQ(lower->toString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(Uuid::fromString(lower->toString()), lower);

    EXPECT_FALSE(Uuid::fromString(""));
    EXPECT_FALSE(Uuid::fromString("E621E1F8C36C495A93FC0C247A3E6E5F"));
    EXPECT_FALSE(Uuid::fromString("E621E1F8-C36C-495A-93FC-0C247A3E6E5G"));
    EXPECT_FALSE(Uuid::fromString("E621E1F8-C36C-495A-93FC0-C247A3E6E5F"));

    std::unordered_set<Uuid> seen;
    for (int i = 0; i < 1000; ++i)
        EXPECT_TRUE(seen.insert(Uuid::random()).second);
}

TEST(AudioFrame, DurationOfAFrameWithoutAUsableRateIsZero)
{
    EXPECT_DOUBLE_EQ((AudioFrame{std::vector<float>(1600), 16000, 0}.duration()), 0.1);
    EXPECT_EQ((AudioFrame{std::vector<float>(1600), 0, 0}.duration()), 0);
    EXPECT_EQ((AudioFrame{std::vector<float>(1600), std::nan(""), 0}.duration()), 0);
}

TEST(Utterance, FromSegmentGetsAFreshIdentity)
{
    const TranscriptSegment segment{Uuid::random(), "こんにちは", TranscriptSegment::Status::volatile_, 1, 2};
    const auto a = Utterance::fromFinalizedSegment(segment);
    const auto b = Utterance::fromFinalizedSegment(segment);
    EXPECT_NE(a.id, segment.id);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.text, "こんにちは");
    EXPECT_EQ(a.start, 1);
    EXPECT_EQ(a.end, 2);
}

TEST(BlankText, RecognisesUnicodeWhiteSpaceOnly)
{
    EXPECT_TRUE(isBlankText(""));
    EXPECT_TRUE(isBlankText(" \t\r\n\v\f"));
    EXPECT_TRUE(isBlankText("\u3000\u3000"));
    EXPECT_TRUE(isBlankText("\u00A0\u1680\u2000\u200A\u202F\u205F\u2028\u2029\u0085"));
    EXPECT_FALSE(isBlankText("\u200B")); // zero-width space is not a space separator
    EXPECT_FALSE(isBlankText("\u3000あ\u3000"));
    EXPECT_FALSE(isBlankText(" x "));
    EXPECT_FALSE(isBlankText("\xE3\x80")); // a space cut in half is content, not blank
}
