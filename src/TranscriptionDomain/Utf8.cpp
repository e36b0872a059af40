#include "TranscriptionDomain/Utf8.h"

#include <cstdint>

namespace tc {

Utf8::Decoded Utf8::decode(std::string_view text, std::size_t pos)
{
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(pos);
    if (lead < 0x80) return {lead, 1, true};

    std::size_t need = 0;
    char32_t value = 0;
    // The second byte's range is narrowed where the lead alone would allow an overlong form, a surrogate or a
    // value past U+10FFFF; the bytes after it are plain continuation bytes.
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        value = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        value = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return {kReplacement, 1, false};
    }
    for (std::size_t k = 1; k <= need; ++k) {
        if (pos + k >= text.size()) return {kReplacement, k, false};
        const std::uint8_t next = byte(pos + k);
        if (next < low || next > high) return {kReplacement, k, false};
        value = (value << 6) | (next & 0x3F);
        low = 0x80;
        high = 0xBF;
    }
    return {value, need + 1, true};
}

Utf8::Decoded Utf8::decodeLoosely(std::string_view text, std::size_t pos)
{
    const auto strict = decode(text, pos);
    if (strict.wellFormed) return strict;
    const auto lead = static_cast<std::uint8_t>(text[pos]);
    const std::size_t length = (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 1;
    if (length == 1 || pos + length > text.size()) return {lead, 1, false};
    char32_t value = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k)
        value = (value << 6) | (static_cast<std::uint8_t>(text[pos + k]) & 0x3F);
    return {value, length, false};
}

void Utf8::append(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string Utf8::encode(std::u32string_view codePoints)
{
    std::string out;
    out.reserve(codePoints.size() * 3);
    for (const char32_t c : codePoints)
        append(out, c);
    return out;
}

bool Utf8::isValid(std::string_view text)
{
    for (std::size_t pos = 0; pos < text.size();) {
        if (static_cast<std::uint8_t>(text[pos]) < 0x80) {
            ++pos;
            continue;
        }
        const auto decoded = decode(text, pos);
        if (!decoded.wellFormed) return false;
        pos += decoded.length;
    }
    return true;
}

std::string Utf8::sanitized(std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    std::size_t runStart = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        if (static_cast<std::uint8_t>(text[pos]) < 0x80) {
            ++pos;
            continue;
        }
        const auto decoded = decode(text, pos);
        if (!decoded.wellFormed) {
            result.append(text.substr(runStart, pos - runStart));
            append(result, kReplacement);
            runStart = pos + decoded.length;
        }
        pos += decoded.length;
    }
    result.append(text.substr(runStart));
    return result;
}

} // namespace tc
