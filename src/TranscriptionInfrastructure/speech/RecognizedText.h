#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tc {

// Text handling for recognizer output: assembling token bytes, telling non-speech phrases apart, comparing.
namespace RecognizedText {

// The bytes as valid UTF-8: an incomplete sequence at the end is dropped (a later token completes it) and
// malformed bytes elsewhere are left out, so a character is never split.
std::string completeUtf8(std::string_view bytes);
// The text trimmed of white space (including U+3000) at both ends.
std::string trimmed(std::string_view text);
// For comparing: full-width ASCII folded to ASCII, ASCII lower-cased, white space and punctuation removed.
std::u32string normalizedForComparison(std::string_view text);
// Characters that count when two readings of one audio are compared (no punctuation or spaces).
std::size_t comparedLength(std::string_view text);
// True when the first half of `part` comes back near the start of `whole`, compared as above; a few characters may
// be read differently with more of the sentence to go by ("もしか能" → "もし可能").
bool beginsWithMostOf(std::string_view whole, std::string_view part);
// The same for the last half of `part` near the end of `whole`.
bool endsWithMostOf(std::string_view whole, std::string_view part);
// True for the phrases a recognizer is known to invent over silence or noise ("ご視聴ありがとうございました" and
// the like), compared after normalisation, for text that begins with an English video outro ("Thank you for
// watching…"), and for text that normalises to nothing.
bool isNonSpeechPhrase(std::string_view text);
// The decoder sometimes loops, writing one phrase again and again until its token limit: a run of a phrase of
// 8+ characters repeated twice or more, or of 4+ characters three times or more, keeps one copy, and a
// cut-off copy at the very end is dropped. Shorter repeats ("はいはい", "ははは") are left as spoken. Spaces after
// Japanese punctuation go, as they would hide a copy.
std::string withoutRepetitionLoops(std::string_view text);
// "?" and "!" after a kana, kanji or "ー" in their full-width form, as Japanese is written; the model writes
// either. After Latin letters or digits they stay ("API?", "3!"). A space between two Japanese characters goes:
// Japanese is written without them, and the model puts them between phrases of quiet speech ("資料を 渡して").
std::string withJapanesePunctuation(std::string_view text);
// True when the text's last character is a kanji, a katakana or 々: where a noun ends, not a verb or a particle.
bool endsInKanjiOrKatakana(std::string_view text);
// True when the text may be a sentence a pause cut short: it ends in a comma; with afterParticle, in a particle or the
// te-form (は が を に で と て も ば; at a long pause the decoder mostly leaves the comma out), greetings ending in は
// aside, or in one of は が を に で と ば and a full stop, which no sentence ends in; with afterNoun, in a noun
// (kanji, katakana, さん).
bool endsMidSentence(std::string_view text, bool afterParticle, bool afterNoun);
// True when the whole text is a name and a title ("小林さん", "田中さん。", "山本先生"): someone addressed before the
// sentence, which the decoder closes with a full stop or nothing when the speaker pauses after it.
bool addressesSomeone(std::string_view text);
// The text divided after a sentence end ("。", "？", "！", "?", "!", but not a full stop after a particle, see
// endsMidSentence) with words on both sides: of those, the one with the count of compared characters before it
// nearest to `characters`. With unpunctuated, also after a polite sentence-final form the decoder left without a
// full stop where no particle or conjunction follows ("…しました先ほどの…"); that part gets its "。". Nothing when
// there is none.
std::optional<std::pair<std::string, std::string>> splitAtSentenceEndNear(std::string_view text, std::size_t characters,
                                                                          bool unpunctuated = false);
// Kana, kanji and the repetition mark 々.
bool isJapanese(char32_t c);
// A to Z and a to z: the letters the decoder writes English and terms in.
bool isLatinLetter(char32_t c);
// True when the text holds Latin letters and no kana or kanji: "Thank you for the hot season.", "1D Printing".
bool isLatinAlone(std::string_view text);
// White space, including U+3000 and the other Unicode spaces.
bool isSpace(char32_t c);
// ASCII, CJK and general punctuation, middle dots and music signs: what comparisons of spoken text ignore.
bool isPunctuation(char32_t c);
// Decodes valid UTF-8 into code points, skipping malformed bytes.
std::u32string toCodePoints(std::string_view text);
std::string toUtf8(std::u32string_view codePoints);

} // namespace RecognizedText

} // namespace tc
