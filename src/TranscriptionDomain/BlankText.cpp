#include "TranscriptionDomain/BlankText.h"

#include "TranscriptionDomain/Utf8.h"

namespace tc {

namespace {

bool isWhiteSpace(char32_t c)
{
    return c == 0x20 || c == 0x09 || (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

} // namespace

bool isBlankText(std::string_view utf8)
{
    // Any character that is not white space makes the text non-blank, so a full scan suffices.
    for (std::size_t i = 0; i < utf8.size();) {
        const auto decoded = Utf8::decode(utf8, i);
        if (!decoded.wellFormed || !isWhiteSpace(decoded.codePoint)) return false;
        i += decoded.length;
    }
    return true;
}

} // namespace tc
