#include "TranscriptionDomain/BlankText.h"

#include <cstdint>

namespace tc {

namespace {

bool isWhiteSpace(char32_t c)
{
    return c == 0x20 || c == 0x09 || (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// Decodes one well-formed UTF-8 sequence; returns its length, or 0 when the bytes are not valid UTF-8.
std::size_t decode(std::string_view text, std::size_t i, char32_t& out)
{
    const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
    const std::uint8_t lead = byte(i);
    std::size_t length = 0;
    char32_t value = 0;
    if (lead < 0x80) {
        out = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        value = (value << 6) | (byte(i + k) & 0x3F);
    }
    out = value;
    return length;
}

} // namespace

bool isBlankText(std::string_view utf8)
{
    // Any character that is not white space makes the text non-blank, so a full scan suffices.
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t c = 0;
        const std::size_t length = decode(utf8, i, c);
        if (length == 0 || !isWhiteSpace(c)) return false;
        i += length;
    }
    return true;
}

} // namespace tc
