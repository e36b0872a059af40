#include "TranscriptionDomain/Utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace tc;

TEST(Utf8, DecodesEachLengthAndRoundTrips)
{
    const std::u32string points = U"a\u00E9\u3042\U0001F600\u007F\u0080\u07FF\u0800\uFFFF\U00010000\U0010FFFF";
    const std::string bytes = Utf8::encode(points);
    EXPECT_EQ(bytes, "a\xC3\xA9\xE3\x81\x82\xF0\x9F\x98\x80\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"
                     "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF");
    std::u32string decoded;
    for (std::size_t pos = 0; pos < bytes.size();) {
        const auto character = Utf8::decode(bytes, pos);
        ASSERT_TRUE(character.wellFormed) << pos;
        ASSERT_EQ(Utf8::wellFormedLength(bytes, pos), character.length) << pos;
        decoded.push_back(character.codePoint);
        pos += character.length;
    }
    EXPECT_EQ(decoded, points);
    EXPECT_TRUE(Utf8::isValid(bytes));
    EXPECT_EQ(Utf8::sanitized(bytes), bytes);
}

TEST(Utf8, IllFormedPartsAreTheMaximalSubpartsAndEachBecomesOneMark)
{
    struct Case {
        std::string bytes;
        std::size_t length; // of the ill-formed part at the start
    };
    const std::vector<Case> cases{
        // Truncated: the text ends inside the character, however far it got.
        {"\xC3", 1},
        {"\xE3\x81", 2},
        {"\xF0\x9F\x98", 3},
        // Cut short by a byte that is not a continuation.
        {"\xE3\x81"
         "a",
         2},
        {"\xF0\x9F"
         "a",
         2},
        // Overlong forms: C0 and C1 never start one; E0 and F0 need a second byte high enough.
        {"\xC0\xAF", 1},
        {"\xC1\xBF", 1},
        {"\xE0\x80\xAF", 1},
        {"\xE0\x9F\xBF", 1},
        {"\xF0\x8F\xBF\xBF", 1},
        // Surrogates, encoded directly.
        {"\xED\xA0\x80", 1},
        {"\xED\xBF\xBF", 1},
        // Past U+10FFFF, and leads that exist for nothing.
        {"\xF4\x90\x80\x80", 1},
        {"\xF5\x80\x80\x80", 1},
        {"\xF8\x88\x80\x80\x80", 1},
        {"\xFF", 1},
        // A continuation byte on its own.
        {"\x80", 1},
        {"\xBF", 1},
    };
    for (const auto& [bytes, length] : cases) {
        const auto decoded = Utf8::decode(bytes, 0);
        EXPECT_FALSE(decoded.wellFormed) << bytes;
        EXPECT_EQ(decoded.codePoint, Utf8::kReplacement) << bytes;
        EXPECT_EQ(decoded.length, length) << bytes;
        EXPECT_EQ(Utf8::wellFormedLength(bytes, 0), 0u) << bytes;
        EXPECT_FALSE(Utf8::isValid(bytes)) << bytes;
    }
    // The largest values on either side of a boundary are well formed.
    for (const std::string bytes : {"\xED\x9F\xBF", "\xEE\x80\x80", "\xF4\x8F\xBF\xBF", "\xE0\xA0\x80"})
        EXPECT_TRUE(Utf8::decode(bytes, 0).wellFormed) << bytes;

    // clang-format off
    const std::vector<std::pair<std::string, std::string>> sanitized{{"日本語", "日本語"}, {"a\xE3\x81\x62", "a\uFFFDb"},
        {"\xE3\x81", "\uFFFD"}, {"\xFF\xFE", "\uFFFD\uFFFD"}, {"\xC0\xAF", "\uFFFD\uFFFD"},
        {"\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"}, {"\xF4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"}, {"\xF0\x9F\x98x", "\uFFFDx"}};
    // clang-format on
    for (const auto& [input, expected] : sanitized)
        EXPECT_EQ(Utf8::sanitized(input), expected) << input;
}

TEST(Utf8, ContinuationBytesAreTheOnesNoCharacterStartsAt)
{
    for (int byte = 0; byte < 256; ++byte)
        EXPECT_EQ(Utf8::isContinuationByte(static_cast<char>(byte)), byte >= 0x80 && byte <= 0xBF) << byte;
}

TEST(Utf8, LooseDecodingReadsWhatTheLeadByteAnnounces)
{
    struct Case {
        std::string bytes;
        char32_t codePoint;
        std::size_t length;
    };
    for (const auto& [bytes, codePoint, length] : std::vector<Case>{
             {"\xE3\x81\x82", U'\u3042', 3}, // well formed: as decode reads it
             {"\xC0\xAF", U'/', 2},          // an overlong form gives its value
             {"\xED\xA0\x80", 0xD800, 3},    // a surrogate too
             {"\xE3"
              "ab",
              0x3862, 3},           // the bits of the bytes after, whatever they are
             {"\xE3\x81", 0xE3, 1}, // cut off by the end: the lead as itself
             {"\x80", 0x80, 1},     // a lead that announces nothing
             {"\xFF", 0xFF, 1},
         }) {
        const auto decoded = Utf8::decodeLoosely(bytes, 0);
        EXPECT_EQ(decoded.codePoint, codePoint) << bytes;
        EXPECT_EQ(decoded.length, length) << bytes;
        EXPECT_EQ(decoded.wellFormed, Utf8::decode(bytes, 0).wellFormed) << bytes;
    }
}
