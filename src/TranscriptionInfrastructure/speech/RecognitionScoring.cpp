#include "TranscriptionInfrastructure/speech/RecognitionScoring.h"

#include "TranscriptionInfrastructure/speech/RecognizedText.h"

#include <QString>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>

namespace tc::RecognitionScoring {

namespace {

std::u32string nfkc(std::string_view text)
{
    const QString normalized =
        QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).normalized(QString::NormalizationForm_KC);
    return normalized.toStdU32String();
}

std::optional<int> kanjiDigit(char32_t c)
{
    static constexpr std::u32string_view digits = U"〇一二三四五六七八九";
    if (c == U'零') return 0;
    const auto at = digits.find(c);
    if (at == std::u32string_view::npos) return std::nullopt;
    return static_cast<int>(at);
}

std::optional<std::uint64_t> smallUnit(char32_t c)
{
    if (c == U'十') return 10;
    if (c == U'百') return 100;
    if (c == U'千') return 1000;
    return std::nullopt;
}

std::optional<std::uint64_t> largeUnit(char32_t c)
{
    if (c == U'万') return 10'000ULL;
    if (c == U'億') return 100'000'000ULL;
    if (c == U'兆') return 1'000'000'000'000ULL;
    return std::nullopt;
}

bool isNumeral(char32_t c)
{
    return (c >= '0' && c <= '9') || kanjiDigit(c) || smallUnit(c) || largeUnit(c);
}

// The value of a run of digits and numeral kanji: digits in a row read positionally (二〇二六, 120), 十百千
// multiply what precedes them (or 1) within a group of four places, 万億兆 close such a group.
std::uint64_t numeralValue(std::u32string_view run)
{
    std::uint64_t total = 0;
    std::uint64_t section = 0;
    std::uint64_t current = 0;
    bool haveCurrent = false;
    for (char32_t c : run) {
        if (c >= '0' && c <= '9') {
            current = current * 10 + static_cast<std::uint64_t>(c - '0');
            haveCurrent = true;
        } else if (const auto digit = kanjiDigit(c)) {
            current = current * 10 + static_cast<std::uint64_t>(*digit);
            haveCurrent = true;
        } else if (const auto unit = smallUnit(c)) {
            section += (haveCurrent ? current : 1) * *unit;
            current = 0;
            haveCurrent = false;
        } else if (const auto big = largeUnit(c)) {
            const std::uint64_t group = section + current;
            total += (group == 0 && !haveCurrent ? 1 : group) * *big;
            section = 0;
            current = 0;
            haveCurrent = false;
        }
    }
    return total + section + current;
}

// Numeral runs written in digits; a run of ASCII digits alone stays as written so that "007" or the parts of
// "1,000" keep their zeros.
std::u32string withArabicNumerals(const std::u32string& text)
{
    std::u32string out;
    for (std::size_t i = 0; i < text.size();) {
        if (!isNumeral(text[i])) {
            out.push_back(text[i++]);
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && isNumeral(text[end]))
            ++end;
        const std::u32string_view run(text.data() + i, end - i);
        if (std::all_of(run.begin(), run.end(), [](char32_t c) { return c >= '0' && c <= '9'; })) {
            out.append(run);
        } else {
            for (char c : std::to_string(numeralValue(run)))
                out.push_back(static_cast<char32_t>(c));
        }
        i = end;
    }
    return out;
}

// NFKC, "%" spelled out, Latin lower-cased; spaces and punctuation still in place.
std::u32string folded(std::string_view text)
{
    std::u32string out;
    for (char32_t c : nfkc(text)) {
        if (c == '%') {
            out += U"パーセント";
            continue;
        }
        if (c >= 'A' && c <= 'Z') c = c - 'A' + 'a';
        out.push_back(c);
    }
    return out;
}

} // namespace

std::u32string normalized(std::string_view text)
{
    // Numerals first, so punctuation still separates numbers that stand apart ("3、4人").
    std::u32string out;
    for (char32_t c : withArabicNumerals(folded(text))) {
        if (RecognizedText::isSpace(c) || RecognizedText::isPunctuation(c)) continue;
        out.push_back(c);
    }
    return out;
}

std::size_t editDistance(std::u32string_view reference, std::u32string_view hypothesis)
{
    std::vector<std::size_t> previous(hypothesis.size() + 1);
    std::vector<std::size_t> current(hypothesis.size() + 1);
    for (std::size_t j = 0; j <= hypothesis.size(); ++j)
        previous[j] = j;
    for (std::size_t i = 1; i <= reference.size(); ++i) {
        current[0] = i;
        for (std::size_t j = 1; j <= hypothesis.size(); ++j) {
            const std::size_t substitution = previous[j - 1] + (reference[i - 1] == hypothesis[j - 1] ? 0 : 1);
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, substitution});
        }
        std::swap(previous, current);
    }
    return previous[hypothesis.size()];
}

double characterErrorRate(std::string_view reference, std::string_view hypothesis)
{
    const std::u32string ref = normalized(reference);
    const std::u32string hyp = normalized(hypothesis);
    if (ref.empty()) return hyp.empty() ? 0.0 : 1.0;
    return static_cast<double>(editDistance(ref, hyp)) / static_cast<double>(ref.size());
}

std::vector<std::string> latinWords(std::string_view text)
{
    std::vector<std::string> words;
    const std::u32string points = folded(text);
    for (std::size_t i = 0; i < points.size();) {
        if (!RecognizedText::isLatinLetter(points[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < points.size() &&
               (RecognizedText::isLatinLetter(points[end]) || (points[end] >= '0' && points[end] <= '9')))
            ++end;
        words.push_back(RecognizedText::toUtf8(std::u32string_view(points.data() + i, end - i)));
        i = end;
    }
    return words;
}

std::vector<std::string> inventedLatinWords(std::string_view reference, std::string_view hypothesis)
{
    const auto spoken = latinWords(reference);
    const auto written = latinWords(hypothesis);
    const std::set<std::string> known(spoken.begin(), spoken.end());
    const std::set<std::string> seen(written.begin(), written.end());
    // A spoken term the text does not hold was misheard, and one unknown word stands for it ("CPU" read "GPU").
    auto misheard = static_cast<std::size_t>(
        std::count_if(known.begin(), known.end(), [&](const std::string& word) { return !seen.contains(word); }));
    std::vector<std::string> invented;
    for (const auto& word : written) {
        if (known.contains(word)) continue;
        if (misheard > 0)
            --misheard;
        else
            invented.push_back(word);
    }
    return invented;
}

std::size_t repeatedPhrases(std::string_view reference, std::string_view hypothesis)
{
    const std::u32string spoken = normalized(reference);
    const std::u32string text = normalized(hypothesis);
    std::size_t count = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t skip = 1;
        for (std::size_t length = 4; start + 2 * length <= text.size(); ++length) {
            if (text.compare(start, length, text, start + length, length) != 0) continue;
            // A number's zeros are no loop: 1億 reads 100000000.
            if (std::all_of(text.begin() + static_cast<std::ptrdiff_t>(start),
                            text.begin() + static_cast<std::ptrdiff_t>(start + length),
                            [](char32_t c) { return c >= U'0' && c <= U'9'; }))
                continue;
            // A loop counts once however many copies it wrote.
            std::size_t copies = 2;
            while (start + (copies + 1) * length <= text.size() &&
                   text.compare(start, length, text, start + copies * length, length) == 0)
                ++copies;
            if (spoken.find(text.substr(start, 2 * length)) == std::u32string::npos) ++count;
            skip = copies * length;
            break;
        }
        start += skip;
    }
    return count;
}

} // namespace tc::RecognitionScoring
