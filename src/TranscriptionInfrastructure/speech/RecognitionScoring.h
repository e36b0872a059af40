#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tc {

// How recognised text is scored against what was said. Both sides are normalised the same way, so spellings a
// reader takes as equal count as equal: NFKC (full-width letters and digits fold), Latin letters lower-cased,
// numbers in kanji written in digits (十二 = 12, 五百万 = 5000000, 二〇二六 = 2026), "%" read as パーセント, and
// white space and punctuation left out.
namespace RecognitionScoring {

// The text as it is compared.
std::u32string normalized(std::string_view text);
// Character edits (insertions, deletions, substitutions) that turn one normalised text into the other.
std::size_t editDistance(std::u32string_view reference, std::u32string_view hypothesis);
// Edits over the reference's normalised length; 0 or 1 for an empty reference (empty hypothesis or not).
double characterErrorRate(std::string_view reference, std::string_view hypothesis);
// The runs of Latin letters (and digits attached to them) in the text, lower-cased after NFKC: "Zoom", "GPT4".
std::vector<std::string> latinWords(std::string_view text);
// Latin words in the hypothesis that the reference does not contain, less one for each spoken Latin word the
// hypothesis lacks (that one was misheard, not made up): words the recognizer made up.
std::vector<std::string> inventedLatinWords(std::string_view reference, std::string_view hypothesis);
// Phrases of four or more characters that follow themselves directly in the hypothesis ("この件については、この件に
// ついては") and do not do so in the reference: a decoder loop, not the speaker's own repetition.
std::size_t repeatedPhrases(std::string_view reference, std::string_view hypothesis);

} // namespace RecognitionScoring

} // namespace tc
