#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tc {

// UTF-8 as Unicode defines it: no overlong forms, no surrogates, nothing past U+10FFFF. Each caller picks what an
// ill-formed part becomes (a mark, a dropped byte, the byte itself). Pure, callable from any thread.
class Utf8 {
public:
    static constexpr char32_t kReplacement = 0xFFFD;

    struct Decoded {
        // The character; kReplacement when the bytes are ill-formed.
        char32_t codePoint = kReplacement;
        // Bytes of the character, or of the maximal ill-formed subpart standing in for one (Unicode's
        // recommended practice: a character cut short costs one mark, not one per byte).
        std::size_t length = 0;
        bool wellFormed = false;
    };

    // True for the bytes that continue a sequence (10xxxxxx): never where a character starts.
    static constexpr bool isContinuationByte(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }
    // The character or ill-formed subpart at `pos`; `pos` must be inside `text`.
    static Decoded decode(std::string_view text, std::size_t pos);
    // The same, but ill-formed bytes are read as their lead byte announces, whatever follows: the bits of the
    // announced length are joined, and a lead that announces nothing or is cut off by the end is its own value as a
    // code point (length 1). For the answerer, which has always folded malformed text so.
    static Decoded decodeLoosely(std::string_view text, std::size_t pos);
    // Length of the well-formed character at `pos`, 0 when ill-formed. Inline for the history reader's and writer's
    // byte loops: three-byte characters (kana, common kanji) are checked here, the rest goes to decode.
    static std::size_t wellFormedLength(std::string_view text, std::size_t pos)
    {
        const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + pos;
        if (text.size() - pos >= 3 && ((p[0] >= 0xE1 && p[0] <= 0xEC) || p[0] == 0xEE || p[0] == 0xEF) &&
            (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80)
            return 3;
        const auto decoded = decode(text, pos);
        return decoded.wellFormed ? decoded.length : 0;
    }
    // Appends the encoding of a code point; the caller passes a scalar value (not a surrogate, at most U+10FFFF).
    static void append(std::string& out, char32_t codePoint);
    static std::string encode(std::u32string_view codePoints);
    static bool isValid(std::string_view text);
    // The text with every maximal ill-formed subpart replaced by one U+FFFD.
    static std::string sanitized(std::string_view text);
};

} // namespace tc
