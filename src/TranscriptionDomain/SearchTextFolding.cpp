#include "TranscriptionDomain/SearchTextFolding.h"

#include "TranscriptionDomain/Utf8.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace tc {
namespace {

struct Decoded {
    char32_t codePoint = 0;
    std::size_t length = 0;
};

// One character at i; a byte that does not start a well-formed sequence is one U+FFFD.
Decoded decodeAt(std::string_view s, std::size_t i)
{
    const auto decoded = Utf8::decode(s, i);
    return {decoded.codePoint, decoded.wellFormed ? decoded.length : 1};
}

// U+FF61..U+FF9F, the half-width katakana block, at its usual width; ﾞ and ﾟ become the combining marks.
constexpr std::array<char16_t, 0x3F> kHalfWidthKatakana = {
    0x3002, 0x300C, 0x300D, 0x3001, 0x30FB, 0x30F2, 0x30A1, 0x30A3, 0x30A5, 0x30A7, 0x30A9, 0x30E3, 0x30E5,
    0x30E7, 0x30C3, 0x30FC, 0x30A2, 0x30A4, 0x30A6, 0x30A8, 0x30AA, 0x30AB, 0x30AD, 0x30AF, 0x30B1, 0x30B3,
    0x30B5, 0x30B7, 0x30B9, 0x30BB, 0x30BD, 0x30BF, 0x30C1, 0x30C4, 0x30C6, 0x30C8, 0x30CA, 0x30CB, 0x30CC,
    0x30CD, 0x30CE, 0x30CF, 0x30D2, 0x30D5, 0x30D8, 0x30DB, 0x30DE, 0x30DF, 0x30E0, 0x30E1, 0x30E2, 0x30E4,
    0x30E6, 0x30E8, 0x30E9, 0x30EA, 0x30EB, 0x30EC, 0x30ED, 0x30EF, 0x30F3, 0x3099, 0x309A};

struct Mapping {
    char32_t from;
    char32_t to;
};

// The single characters NFKC maps that Japanese text meets: spaces, CJK compatibility, fullwidth signs.
constexpr Mapping kSingleMappings[] = {
    {0x00A0, 0x20},   {0x202F, 0x20},   {0x205F, 0x20},   {0x3000, 0x20},   {0x3036, 0x3012}, {0x3038, 0x5341},
    {0x3039, 0x5344}, {0x303A, 0x5345}, {0xFF5F, 0x2985}, {0xFF60, 0x2986}, {0xFFE0, 0x00A2}, {0xFFE1, 0x00A3},
    {0xFFE2, 0x00AC}, {0xFFE4, 0x00A6}, {0xFFE5, 0x00A5}, {0xFFE6, 0x20A9}, {0xFFE8, 0x2502}, {0xFFE9, 0x2190},
    {0xFFEA, 0x2191}, {0xFFEB, 0x2192}, {0xFFEC, 0x2193}, {0xFFED, 0x25A0}, {0xFFEE, 0x25CB},
};

// The width and space mappings of NFKC that Japanese text meets.
char32_t widen(char32_t c)
{
    if (c >= 0xFF01 && c <= 0xFF5E) return c - 0xFEE0;
    if (c >= 0xFF61 && c <= 0xFF9F) return kHalfWidthKatakana[c - 0xFF61];
    // The typographic spaces U+2000..U+200A.
    if (c >= 0x2000 && c <= 0x200A) return 0x20;
    const auto* found = std::find_if(std::begin(kSingleMappings), std::end(kSingleMappings),
                                     [c](const Mapping& mapping) { return mapping.from == c; });
    return found == std::end(kSingleMappings) ? c : found->to;
}

bool isVoicedMark(char32_t c)
{
    return c == 0x3099 || c == 0x309A;
}

// The precomposed kana for c followed by a combining (semi-)voiced mark; 0 when there is none.
char32_t composeVoiced(char32_t c, char32_t mark)
{
    const bool hiragana = c >= 0x3041 && c <= 0x309F;
    const bool katakana = c >= 0x30A1 && c <= 0x30FF;
    if (!hiragana && !katakana) return 0;
    const char32_t k = hiragana ? c + 0x60 : c;
    static constexpr std::array<char16_t, 21> kTakesVoicedMark = {
        0x30AB, 0x30AD, 0x30AF, 0x30B1, 0x30B3, 0x30B5, 0x30B7, 0x30B9, 0x30BB, 0x30BD, 0x30BF,
        0x30C1, 0x30C4, 0x30C6, 0x30C8, 0x30CF, 0x30D2, 0x30D5, 0x30D8, 0x30DB, 0x30FD};
    char32_t composed = 0;
    if (mark == 0x3099) {
        if (std::find(kTakesVoicedMark.begin(), kTakesVoicedMark.end(), k) != kTakesVoicedMark.end())
            composed = k + 1;
        else if (k == 0x30A6)
            composed = 0x30F4;
        else if (katakana && k >= 0x30EF && k <= 0x30F2)
            composed = k + 8; // ヷヸヹヺ exist in katakana only
    } else if (k == 0x30CF || k == 0x30D2 || k == 0x30D5 || k == 0x30D8 || k == 0x30DB) {
        composed = k + 2;
    }
    if (composed == 0) return 0;
    return hiragana ? composed - 0x60 : composed;
}

char32_t foldKanaAndCase(char32_t c)
{
    // ー, ・ and ヷヸヹヺ have no hiragana of their own and stay as they are.
    if ((c >= 0x30A1 && c <= 0x30F6) || c == 0x30FD || c == 0x30FE) return c - 0x60;
    if (c >= 'A' && c <= 'Z') return c + 0x20;
    if (c < 0x80) return c;
    if (c >= 0x00C0 && c <= 0x00DE && c != 0x00D7) return c + 0x20;
    if (c >= 0x0391 && c <= 0x03A9 && c != 0x03A2) return c + 0x20;
    if (c >= 0x0410 && c <= 0x042F) return c + 0x20;
    if (c >= 0x0400 && c <= 0x040F) return c + 0x50;
    return c;
}

// Calls emit(codePoint, originalBegin, originalEnd) for each folded character in order.
template <typename Emit>
void fold(std::string_view utf8, Emit&& emit)
{
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto decoded = decodeAt(utf8, i);
        std::size_t end = i + decoded.length;
        if (decoded.codePoint == 0) {
            i = end;
            continue;
        }
        char32_t c = widen(decoded.codePoint);
        if (end < utf8.size()) {
            const auto next = decodeAt(utf8, end);
            const char32_t mark = widen(next.codePoint);
            if (isVoicedMark(mark)) {
                if (const char32_t composed = composeVoiced(c, mark)) {
                    c = composed;
                    end += next.length;
                }
            }
        }
        // Circled numbers are digits to NFKC; they are common in Japanese notes.
        if (c >= 0x2460 && c <= 0x2473) {
            const int number = static_cast<int>(c - 0x2460) + 1;
            if (number >= 10) emit(static_cast<char32_t>('0' + number / 10), i, end);
            emit(static_cast<char32_t>('0' + number % 10), i, end);
        } else {
            emit(foldKanaAndCase(c), i, end);
        }
        i = end;
    }
}

bool isAsciiSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

} // namespace

TextRange FoldedSearchText::originalRange(std::size_t begin, std::size_t end) const
{
    return {origins[begin].begin, origins[end - 1].end};
}

std::string foldForSearch(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    fold(utf8, [&](char32_t c, std::size_t, std::size_t) { Utf8::append(out, c); });
    return out;
}

FoldedSearchText foldForSearchWithOrigins(std::string_view utf8)
{
    FoldedSearchText folded;
    folded.text.reserve(utf8.size());
    folded.origins.reserve(utf8.size());
    fold(utf8, [&](char32_t c, std::size_t begin, std::size_t end) {
        const auto before = folded.text.size();
        Utf8::append(folded.text, c);
        folded.origins.insert(folded.origins.end(), folded.text.size() - before, TextRange{begin, end});
    });
    return folded;
}

std::string foldSearchQuery(std::string_view utf8)
{
    std::string folded = foldForSearch(utf8);
    const auto first = std::find_if_not(folded.begin(), folded.end(), isAsciiSpace);
    const auto last = std::find_if_not(folded.rbegin(), folded.rend(), isAsciiSpace).base();
    return first < last ? std::string(first, last) : std::string();
}

} // namespace tc
