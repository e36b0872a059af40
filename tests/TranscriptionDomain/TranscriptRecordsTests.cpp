#include "TranscriptionDomain/AudioFrame.h"
#include "TranscriptionDomain/BlankText.h"
#include "TranscriptionDomain/Uuid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <unordered_set>

using namespace tc;

TEST(Uuid, WritesUpperCaseVersion4AndReadsEitherCase)
{
    const auto text = Uuid::random().toString();
    ASSERT_EQ(text.size(), 36u);
    EXPECT_EQ(text[14], '4');
    EXPECT_NE(std::string("89AB").find(text[19]), std::string::npos);
    EXPECT_EQ(text.find_first_of("abcdefghijklmnopqrstuvwxyz"), std::string::npos);

    const auto lower = Uuid::fromString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
    ASSERT_TRUE(lower);
    EXPECT_EQ(lower->toString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    for (const char* malformed : {"", "E621E1F8C36C495A93FC0C247A3E6E5F", "E621E1F8-C36C-495A-93FC-0C247A3E6E5G",
                                  "E621E1F8-C36C-495A-93FC0-C247A3E6E5F"})
        EXPECT_FALSE(Uuid::fromString(malformed)) << malformed;

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

TEST(BlankText, RecognisesUnicodeWhiteSpaceOnly)
{
    for (const char* blank :
         {"", " \t\r\n\v\f", "\u3000\u3000", "\u00A0\u1680\u2000\u200A\u202F\u205F\u2028\u2029\u0085"})
        EXPECT_TRUE(isBlankText(blank)) << blank;
    // A zero-width space is no space separator; a space cut in half or spelled overlong is content.
    for (const char* content : {"\u200B", "\u3000あ\u3000", " x ", "\xE3\x80", "\xC0\xA0", "\xE0\x80\xA0"})
        EXPECT_FALSE(isBlankText(content)) << content;
}
