#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tc {

// UTF-8 checks and repair; stateless, callable from any thread. Each maximal ill-formed subpart (Unicode's
// recommended practice) becomes one U+FFFD, so a character split across engine tokens costs one mark, not the line.
class Utf8Sanitizer {
public:
    struct Sequence {
        // Bytes taken by the character at the position, or by the ill-formed subpart that stands in for one.
        std::size_t length = 0;
        bool wellFormed = false;
    };

    // The character (or ill-formed subpart) starting at `pos`; `pos` must be inside `text`.
    static Sequence sequenceAt(std::string_view text, std::size_t pos);
    // Length of the well-formed character at `pos` (0 when ill-formed). Three-byte characters (all of kana and
    // common kanji) are checked inline; the rest goes to sequenceAt.
    static std::size_t wellFormedLength(std::string_view text, std::size_t pos)
    {
        const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + pos;
        if (text.size() - pos >= 3 && ((p[0] >= 0xE1 && p[0] <= 0xEC) || p[0] == 0xEE || p[0] == 0xEF) &&
            (p[1] & 0xC0) == 0x80 && (p[2] & 0xC0) == 0x80)
            return 3;
        const auto sequence = sequenceAt(text, pos);
        return sequence.wellFormed ? sequence.length : 0;
    }
    static bool isValid(std::string_view text);
    // `text` with every ill-formed subpart replaced by U+FFFD.
    static std::string sanitized(std::string_view text);
};

} // namespace tc
