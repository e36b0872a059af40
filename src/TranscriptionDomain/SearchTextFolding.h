#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tc {

// A span of bytes in a UTF-8 text, [begin, end).
struct TextRange {
    std::size_t begin = 0;
    std::size_t end = 0;

    friend bool operator==(const TextRange&, const TextRange&) = default;
};

// Text in the form the history search compares: full-width ASCII and half-width katakana brought to their usual
// width (with ﾞ/ﾟ and combining voiced marks joined to their kana), katakana as hiragana, letters in lower case.
// These agree with NFKC for the width forms and kana; other compatibility characters (㎏, ㈱, half-width hangul)
// are kept as they are. Pure functions, callable from any thread.
struct FoldedSearchText {
    // The folded UTF-8; never holds a NUL byte, so callers may use NUL as a separator.
    std::string text;
    // For each byte of text, the original bytes of the character it came from.
    std::vector<TextRange> origins;

    // The original bytes behind the folded bytes [begin, end); begin < end <= text.size().
    TextRange originalRange(std::size_t begin, std::size_t end) const;
};

// The folded form of a UTF-8 text; invalid bytes become U+FFFD and NUL bytes are left out.
std::string foldForSearch(std::string_view utf8);
// As foldForSearch(), also telling where each folded byte came from.
FoldedSearchText foldForSearchWithOrigins(std::string_view utf8);
// foldForSearch() without leading or trailing white space (ideographic space included); empty for a blank query.
std::string foldSearchQuery(std::string_view utf8);

} // namespace tc
