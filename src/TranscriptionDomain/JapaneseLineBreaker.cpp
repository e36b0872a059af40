#include "TranscriptionDomain/JapaneseLineBreaker.h"

#include "TranscriptionDomain/Utf8.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>

namespace tc {

namespace {

struct Unit {
    std::size_t offset = 0;
    std::size_t length = 0;
    char32_t code = 0;
    int width = 1;
};

// One code point at pos; an ill-formed byte becomes a unit of its own so nothing is lost.
Unit decodeAt(std::string_view text, std::size_t pos)
{
    const auto decoded = Utf8::decode(text, pos);
    return {pos, decoded.wellFormed ? decoded.length : 1, decoded.codePoint, 1};
}

bool isCombining(char32_t c)
{
    return (c >= 0x0300 && c <= 0x036F) || c == 0x3099 || c == 0x309A || (c >= 0xFE00 && c <= 0xFE0F) || c == 0x200D ||
           (c >= 0xE0100 && c <= 0xE01EF);
}

struct CodeRange {
    char32_t first;
    char32_t last;
};

// East Asian wide and fullwidth characters that Japanese text meets, in code point order.
constexpr CodeRange kWideRanges[] = {
    {0x1100, 0x115F}, {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},
    {0xA000, 0xA4CF}, {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},
    {0xFFE0, 0xFFE6}, {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x3FFFD},
};

bool isWide(char32_t c)
{
    return std::any_of(std::begin(kWideRanges), std::end(kWideRanges),
                       [c](const CodeRange& range) { return c >= range.first && c <= range.last; });
}

bool isSpace(char32_t c)
{
    return c == U' ' || c == U'\t' || c == U'\n' || c == U'\r' || c == 0x3000 || c == 0x00A0;
}

// Characters that must not start a row.
bool isNoBreakBefore(char32_t c)
{
    static constexpr std::u32string_view kSet =
        U"。、，．,.・：；:;？！?!…‥ーｰ〜～"
        U"ぁぃぅぇぉっゃゅょゎゕゖァィゥェォッャュョヮヵヶㇰㇱㇲㇳㇴㇵㇶㇷㇸㇹㇺㇻㇼㇽㇾㇿｧｨｩｪｫｯｬｭｮ"
        U"々ゝゞヽヾ"
        U"）」』】〕〉》］｝)]}〙〗\"'”’%％";
    return kSet.find(c) != std::u32string_view::npos || isCombining(c);
}

// Characters that must not end a row.
bool isNoBreakAfter(char32_t c)
{
    static constexpr std::u32string_view kSet = U"（「『【〔〈《［｛([{〘〖“‘";
    return kSet.find(c) != std::u32string_view::npos;
}

// A cut after these reads naturally.
bool isPunctuation(char32_t c)
{
    static constexpr std::u32string_view kSet = U"。、，．！？!?…）」』】〕〉》］｝)]}";
    return kSet.find(c) != std::u32string_view::npos;
}

bool isDigit(char32_t c)
{
    return (c >= U'0' && c <= U'9') || (c >= 0xFF10 && c <= 0xFF19);
}

bool isLatinLetter(char32_t c)
{
    return (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z') || (c >= 0xFF21 && c <= 0xFF3A) ||
           (c >= 0xFF41 && c <= 0xFF5A);
}

// Joins the digits of one number: 1,000 / 3.14 / 10:30 / 2026/12/07.
bool isNumberSeparator(char32_t c)
{
    static constexpr std::u32string_view kSet = U",.:/-，．：／";
    return kSet.find(c) != std::u32string_view::npos;
}

std::vector<Unit> unitsOf(std::string_view text)
{
    std::vector<Unit> units;
    for (std::size_t pos = 0; pos < text.size();) {
        Unit unit = decodeAt(text, pos);
        unit.width = isCombining(unit.code) ? 0 : isWide(unit.code) ? 2 : 1;
        pos += unit.length;
        units.push_back(unit);
    }
    return units;
}

bool isHiragana(char32_t c)
{
    return c >= 0x3041 && c <= 0x309F;
}

// Kanji, katakana and Latin words usually start a new phrase after hiragana.
bool startsPhrase(char32_t c)
{
    return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x30A1 && c <= 0x30FA) || isDigit(c) ||
           isLatinLetter(c) || isNoBreakAfter(c);
}

// never: not here; allowed: anywhere else; phrase: hiragana before a kanji, katakana or Latin word, where a
// phrase most often ends; preferred: after punctuation or a space.
enum class Cut { never, allowed, phrase, preferred };

// Whether a row may end between units[i - 1] and units[i].
Cut cutBefore(const std::vector<Unit>& units, std::size_t i)
{
    const char32_t before = units[i - 1].code;
    const char32_t after = units[i].code;
    if (isSpace(after)) return Cut::never; // cut after the spaces instead, so they fall away at the row's end
    if (isSpace(before)) return Cut::preferred;
    if (isNoBreakBefore(after) || isNoBreakAfter(before)) return Cut::never;
    const auto digitAt = [&](std::size_t k) { return k < units.size() && isDigit(units[k].code); };
    if (isDigit(before) && isDigit(after)) return Cut::never;
    // A separator between two digits belongs to the number on both sides.
    if (isDigit(before) && isNumberSeparator(after) && digitAt(i + 1)) return Cut::never;
    if (isNumberSeparator(before) && isDigit(after) && i >= 2 && digitAt(i - 2)) return Cut::never;
    const auto wordChar = [](char32_t c) { return isDigit(c) || isLatinLetter(c); };
    if (wordChar(before) && wordChar(after)) return Cut::never;
    if (isPunctuation(before)) return Cut::preferred;
    if (isHiragana(before) && startsPhrase(after)) return Cut::phrase;
    return Cut::allowed;
}

// Cuts one text into rows, one row at a time from the front.
class RowBreaker {
public:
    RowBreaker(std::string_view text, int maxColumns, int indent, std::size_t rowsPerGroup)
        : m_text(text), m_units(unitsOf(text)), m_maxColumns(maxColumns), m_indent(indent), m_rowsPerGroup(rowsPerGroup)
    {
        m_lastVisible = m_units.size();
        while (m_lastVisible > 0 && isSpace(m_units[m_lastVisible - 1].code))
            --m_lastVisible;
    }

    std::vector<std::string> rows()
    {
        std::vector<std::string> rows;
        std::size_t begin = skipSpaces(0);
        while (begin < m_units.size()) {
            const int limit = rowLimit(rows.size());
            const std::size_t fit = furthestFit(begin, limit);
            if (fit >= m_units.size()) {
                rows.push_back(rowText(begin, m_units.size()));
                break;
            }
            std::size_t end = bestCut(begin, fit, limit);
            // A last row of a few characters ("た。") reads badly: share the last two rows out more evenly.
            const int nextLimit = rowLimit(rows.size() + 1);
            const int rest = widthFrom(end);
            if (rest <= nextLimit && rest * 3 < nextLimit) end = evenCut(begin, fit, nextLimit, end);
            rows.push_back(rowText(begin, end));
            begin = skipSpaces(end);
        }
        rows.erase(std::remove(rows.begin(), rows.end(), std::string{}), rows.end());
        return rows;
    }

private:
    std::size_t skipSpaces(std::size_t begin) const
    {
        while (begin < m_units.size() && isSpace(m_units[begin].code))
            ++begin;
        return begin;
    }

    // The row's text from units [from, to), line breaks as spaces and trailing spaces dropped.
    std::string rowText(std::size_t from, std::size_t to) const
    {
        while (to > from && isSpace(m_units[to - 1].code))
            --to;
        std::string row;
        for (std::size_t k = from; k < to; ++k) {
            const auto& unit = m_units[k];
            if (isSpace(unit.code) && unit.code != 0x3000)
                row.push_back(' ');
            else
                row.append(m_text.substr(unit.offset, unit.length));
        }
        return row;
    }

    // Columns the row-th row may take: a row starting a group leaves room for the indent.
    int rowLimit(std::size_t row) const
    {
        const bool startsGroup = m_rowsPerGroup == 0 ? row == 0 : row % m_rowsPerGroup == 0;
        return std::max(startsGroup ? m_maxColumns - m_indent : m_maxColumns, 2);
    }

    // Columns from `from` to the last character that is not a space.
    int widthFrom(std::size_t from) const
    {
        int total = 0;
        for (std::size_t k = from; k < m_lastVisible; ++k)
            total += m_units[k].width;
        return total;
    }

    // The furthest end that fits; spaces past the end hang there and fall away. A unit wider than the row still
    // gets a row of its own.
    std::size_t furthestFit(std::size_t begin, int limit) const
    {
        std::size_t fit = begin;
        int width = 0;
        bool full = false;
        while (fit < m_units.size()) {
            if (!full && width + m_units[fit].width <= limit)
                width += m_units[fit].width;
            else if (isSpace(m_units[fit].code))
                full = true;
            else
                break;
            ++fit;
        }
        return fit == begin ? begin + 1 : fit;
    }

    // The last preferred cut up to `fit` when it keeps the row half full, else the last allowed one, else `fit`.
    std::size_t bestCut(std::size_t begin, std::size_t fit, int limit) const
    {
        std::size_t lastAllowed = 0;
        std::size_t lastPreferred = 0;
        int widthAtPreferred = 0;
        int width = 0;
        for (std::size_t i = begin + 1; i <= fit; ++i) {
            width += m_units[i - 1].width;
            const Cut cut = cutBefore(m_units, i);
            if (cut == Cut::never) continue;
            lastAllowed = i;
            if (cut == Cut::preferred) lastPreferred = i, widthAtPreferred = width;
        }
        if (lastPreferred != 0 && widthAtPreferred * 2 >= limit) return lastPreferred;
        if (lastAllowed != 0) return lastAllowed;
        return fit;
    }

    // The cut nearest the middle of what is left, favouring punctuation and phrase ends, that leaves a last row
    // within `nextLimit`; `end` when there is none.
    std::size_t evenCut(std::size_t begin, std::size_t fit, int nextLimit, std::size_t end) const
    {
        const int total = widthFrom(begin);
        int bestScore = 0;
        bool found = false;
        int width = 0;
        for (std::size_t i = begin + 1; i <= fit; ++i) {
            width += m_units[i - 1].width;
            const Cut cut = cutBefore(m_units, i);
            if (cut == Cut::never || total - width > nextLimit) continue;
            const int bonus = cut == Cut::preferred ? total / 2 : cut == Cut::phrase ? total / 4 : 0;
            const int score = bonus - std::abs(2 * width - total);
            if (!found || score > bestScore) found = true, bestScore = score, end = i;
        }
        return end;
    }

    std::string_view m_text;
    std::vector<Unit> m_units;
    int m_maxColumns;
    int m_indent;
    std::size_t m_rowsPerGroup;
    std::size_t m_lastVisible = 0;
};

} // namespace

int JapaneseLineBreaker::columns(std::string_view text)
{
    int total = 0;
    for (const auto& unit : unitsOf(text))
        total += unit.width;
    return total;
}

std::size_t JapaneseLineBreaker::characterCount(std::string_view text)
{
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < text.size(); ++count)
        pos += decodeAt(text, pos).length;
    return count;
}

std::vector<std::string> JapaneseLineBreaker::breakIntoRows(std::string_view text, int maxColumns, int indent,
                                                            std::size_t rowsPerGroup)
{
    return RowBreaker(text, std::max(maxColumns, 2), indent, rowsPerGroup).rows();
}

} // namespace tc
