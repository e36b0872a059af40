#pragma once

#include <string_view>

namespace tc {

// True when nothing remains of the UTF-8 text after removing white space and line breaks from both ends:
// the Unicode space separators (U+0020, U+00A0, U+1680, U+2000-U+200A, U+202F, U+205F, U+3000),
// U+2028, U+2029, tab, U+000A-U+000D and U+0085. Invalid bytes count as content.
bool isBlankText(std::string_view utf8);

} // namespace tc
