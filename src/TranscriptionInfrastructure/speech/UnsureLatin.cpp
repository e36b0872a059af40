#include "TranscriptionInfrastructure/speech/UnsureLatin.h"

#include "TranscriptionInfrastructure/speech/RecognizedText.h"

#include <algorithm>
#include <string_view>

namespace tc::UnsureLatin {

namespace {

// A piece that is Latin letters only, apart from spaces and apostrophes, with at least one letter.
bool isLatinPiece(std::string_view text)
{
    bool letter = false;
    for (char c : text) {
        if (RecognizedText::isLatinLetter(static_cast<unsigned char>(c))) {
            letter = true;
            continue;
        }
        if (c != ' ' && c != '\'') return false;
    }
    return letter;
}

// True when the text after a Latin run starts with a case particle, spaces aside.
bool startsWithParticle(std::u32string_view rest)
{
    while (!rest.empty() && RecognizedText::isSpace(rest.front()))
        rest.remove_prefix(1);
    constexpr std::u32string_view particles[] = {U"を", U"が", U"の", U"は",   U"に",   U"で",
                                                 U"と", U"も", U"へ", U"から", U"まで", U"より"};
    return std::any_of(std::begin(particles), std::end(particles), [&](auto p) { return rest.starts_with(p); });
}

// True for one word that starts the text, or follows a space or punctuation. The letters the decoder made up
// for kana it misheard are glued to the characters before them ("にはSが", "25mBです").
bool opensPhrase(std::string_view before, std::string_view run)
{
    if (run.find(' ', run.find_first_not_of(' ')) != std::string_view::npos) return false;
    if (before.empty() || run.front() == ' ') return true;
    const std::u32string points = RecognizedText::toCodePoints(before);
    return points.empty() || RecognizedText::isSpace(points.back()) || RecognizedText::isPunctuation(points.back());
}

} // namespace

std::string joinedWithout(const std::vector<TokenPiece>& pieces, const Thresholds& thresholds)
{
    std::string joined;
    for (const auto& piece : pieces)
        joined += piece.text;
    const std::u32string points = RecognizedText::toCodePoints(joined);
    if (std::none_of(points.begin(), points.end(), RecognizedText::isJapanese)) return joined;
    std::string out;
    for (std::size_t i = 0; i < pieces.size();) {
        if (!isLatinPiece(pieces[i].text)) {
            out += pieces[i++].text;
            continue;
        }
        std::size_t end = i;
        double sum = 0;
        std::string run;
        while (end < pieces.size() && isLatinPiece(pieces[end].text)) {
            sum += pieces[end].probability;
            run += pieces[end].text;
            ++end;
        }
        const bool capital = std::any_of(run.begin(), run.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
        double needed = capital ? thresholds.capitalized : thresholds.lowercase;
        if (capital && opensPhrase(out, run)) {
            // Enough bytes for the longest particle after a space or two.
            std::string rest;
            for (std::size_t k = end; k < pieces.size() && rest.size() < 8; ++k)
                rest += pieces[k].text;
            // A particle after it makes it a noun of the sentence: dropping it leaves "を使って…".
            if (startsWithParticle(RecognizedText::toCodePoints(rest)))
                needed = std::min(needed, thresholds.termBeforeParticle);
        }
        if (sum / static_cast<double>(end - i) >= needed) out += run;
        i = end;
    }
    return out;
}

} // namespace tc::UnsureLatin
