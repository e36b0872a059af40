#include "TranscriptionInfrastructure/files/Utf8Sanitizer.h"

#include <cstdint>

namespace tc {

Utf8Sanitizer::Sequence Utf8Sanitizer::sequenceAt(std::string_view text, std::size_t pos)
{
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(pos);
    if (lead < 0x80) return {1, true};

    std::size_t need = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 2;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 3;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F; // nothing above U+10FFFF
    } else {
        return {1, false};
    }

    // Only the second byte has a narrowed range; the rest are plain continuation bytes.
    for (std::size_t k = 1; k <= need; ++k) {
        if (pos + k >= text.size()) return {k, false};
        const std::uint8_t next = byte(pos + k);
        if (next < low || next > high) return {k, false};
        low = 0x80;
        high = 0xBF;
    }
    return {need + 1, true};
}

bool Utf8Sanitizer::isValid(std::string_view text)
{
    for (std::size_t pos = 0; pos < text.size();) {
        if (static_cast<std::uint8_t>(text[pos]) < 0x80) {
            ++pos;
            continue;
        }
        const auto sequence = sequenceAt(text, pos);
        if (!sequence.wellFormed) return false;
        pos += sequence.length;
    }
    return true;
}

std::string Utf8Sanitizer::sanitized(std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    std::size_t runStart = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        if (static_cast<std::uint8_t>(text[pos]) < 0x80) {
            ++pos;
            continue;
        }
        const auto sequence = sequenceAt(text, pos);
        if (!sequence.wellFormed) {
            result.append(text.substr(runStart, pos - runStart));
            result.append("\xEF\xBF\xBD");
            runStart = pos + sequence.length;
        }
        pos += sequence.length;
    }
    result.append(text.substr(runStart));
    return result;
}

} // namespace tc
