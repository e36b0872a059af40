#include "TranscriptionInfrastructure/speech/RecognizedText.h"

#include "TranscriptionDomain/Utf8.h"

#include <algorithm>
#include <array>

namespace tc::RecognizedText {

namespace {

char32_t foldWidth(char32_t c)
{
    if (c >= 0xFF01 && c <= 0xFF5E) return c - 0xFF01 + 0x21;
    if (c == 0x3000) return 0x20;
    return c;
}

// Japanese without the hiragana (and ゠ between the two kana blocks).
bool isKanjiOrKatakana(char32_t c)
{
    return isJapanese(c) && !(c >= 0x3041 && c <= 0x30A0);
}

} // namespace

bool endsInKanjiOrKatakana(std::string_view text)
{
    const std::u32string points = toCodePoints(text);
    return !points.empty() && isKanjiOrKatakana(points.back());
}

namespace {

constexpr std::string_view kFullStop = "。";

// True when at least half of `wanted`'s characters are in `window`, each found once and in any order.
bool findsMostOf(std::u32string window, std::u32string_view wanted)
{
    std::size_t found = 0;
    for (const char32_t c : wanted) {
        const auto at = window.find(c);
        if (at == std::u32string::npos) continue;
        window[at] = U'\0';
        ++found;
    }
    return 2 * found >= wanted.size();
}

// True when the text ends in a particle or the te-form a pause may cut a sentence after. Before a full stop only in
// a particle no sentence ends in: "待って。" and "私も。" are whole.
bool endsInParticle(std::string_view text, bool beforeFullStop)
{
    for (const std::string_view greeting : {"こんにちは", "こんばんは"})
        if (text.ends_with(greeting)) return false;
    for (const std::string_view particle : {"は", "が", "を", "に", "で", "と", "ば"})
        if (text.ends_with(particle)) return true;
    return !beforeFullStop && (text.ends_with("て") || text.ends_with("も"));
}

// True between a polite sentence-final form the decoder left without a full stop (ました, ます, でした, です, ません,
// ましょう, ください, each with an optional か) and words that do not go on with it: a particle or conjunction
// ("ですが", "ましたので", "ましたら") continues the sentence.
bool politeEndBetween(std::u32string_view before, std::u32string_view after)
{
    if (before.ends_with(U'か')) before.remove_suffix(1);
    constexpr std::u32string_view endings[] = {U"ました", U"ます",     U"でした",  U"です",
                                               U"ません", U"ましょう", U"ください"};
    if (std::none_of(std::begin(endings), std::end(endings), [&](auto e) { return before.ends_with(e); })) return false;
    if (after.empty() || isSpace(after.front()) || isPunctuation(after.front())) return false;
    constexpr std::u32string_view continuations[] = {U"が", U"けど", U"けれど", U"ので", U"から", U"し",
                                                     U"ね", U"よ",   U"な",     U"の",   U"と",   U"って",
                                                     U"わ", U"か",   U"で",     U"ら",   U"ま"};
    return std::none_of(std::begin(continuations), std::end(continuations),
                        [&](auto c) { return after.starts_with(c); });
}

} // namespace

bool endsMidSentence(std::string_view text, bool afterParticle, bool afterNoun)
{
    for (const std::string_view comma : {"、", ",", "，"})
        if (text.ends_with(comma)) return true;
    if (!afterParticle) return false;
    // At a long pause the decoder sometimes closes the part with a full stop ("予算の見直しと。").
    if (text.ends_with(kFullStop)) return endsInParticle(text.substr(0, text.size() - kFullStop.size()), true);
    if (endsInParticle(text, false)) return true;
    return afterNoun && (text.ends_with("さん") || endsInKanjiOrKatakana(text));
}

bool addressesSomeone(std::string_view text)
{
    if (text.ends_with(kFullStop)) text.remove_suffix(kFullStop.size());
    const std::u32string points = toCodePoints(text);
    for (const std::u32string_view title : {U"さん", U"さま", U"様", U"くん", U"君", U"ちゃん", U"先生"}) {
        if (points.size() <= title.size() || !std::u32string_view(points).ends_with(title)) continue;
        // A name in kanji or katakana; a name in hiragana cannot be told from the words around it.
        const std::u32string_view name(points.data(), points.size() - title.size());
        return name.size() <= 6 && std::all_of(name.begin(), name.end(), isKanjiOrKatakana);
    }
    return false;
}

std::size_t comparedLength(std::string_view text)
{
    return normalizedForComparison(text).size();
}

bool beginsWithMostOf(std::string_view whole, std::string_view part)
{
    const std::u32string partPoints = normalizedForComparison(part);
    const std::u32string wholePoints = normalizedForComparison(whole);
    const std::size_t half = (partPoints.size() + 1) / 2;
    return findsMostOf(wholePoints.substr(0, half + 3), std::u32string_view(partPoints).substr(0, half));
}

bool endsWithMostOf(std::string_view whole, std::string_view part)
{
    const std::u32string partPoints = normalizedForComparison(part);
    const std::u32string wholePoints = normalizedForComparison(whole);
    const std::size_t half = (partPoints.size() + 1) / 2, window = std::min(wholePoints.size(), half + 3);
    return findsMostOf(wholePoints.substr(wholePoints.size() - window),
                       std::u32string_view(partPoints).substr(partPoints.size() - half));
}

std::optional<std::pair<std::string, std::string>> splitAtSentenceEndNear(std::string_view text, std::size_t characters,
                                                                          bool unpunctuated)
{
    const std::u32string points = toCodePoints(text);
    const std::u32string_view all(points);
    const auto counts = [](char32_t c) { return !isSpace(c) && !isPunctuation(c); };
    const auto isSentenceEnd = [](char32_t c) {
        return c == U'。' || c == U'？' || c == U'！' || c == U'?' || c == U'!';
    };
    const auto total = static_cast<std::size_t>(std::count_if(points.begin(), points.end(), counts));
    std::optional<std::size_t> best;
    bool bestUnpunctuated = false;
    std::size_t bestDistance = 0;
    std::size_t before = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (counts(points[i])) ++before;
        if (before == 0 || before == total) continue;
        std::size_t end = i + 1;
        const bool polite = unpunctuated && politeEndBetween(all.substr(0, end), all.substr(end));
        if (!polite) {
            if (!isSentenceEnd(points[i])) continue;
            // A full stop after a particle is the decoder's mark of a pause, not a sentence's end.
            if (points[i] == U'。' && endsInParticle(toUtf8(all.substr(0, i)), true)) continue;
            // "？！" ends one sentence.
            while (end < points.size() && isSentenceEnd(points[end]))
                ++end;
        }
        const std::size_t distance = before > characters ? before - characters : characters - before;
        if (best && distance >= bestDistance) continue;
        best = end;
        bestUnpunctuated = polite;
        bestDistance = distance;
    }
    if (!best) return std::nullopt;
    std::string first = trimmed(toUtf8(all.substr(0, *best)));
    if (bestUnpunctuated) first += kFullStop;
    return std::pair{std::move(first), trimmed(toUtf8(all.substr(*best)))};
}

bool isJapanese(char32_t c)
{
    return (c >= 0x3041 && c <= 0x30FF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) || c == 0x3005;
}

bool isLatinLetter(char32_t c)
{
    return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z');
}

bool isLatinAlone(std::string_view text)
{
    const std::u32string points = toCodePoints(text);
    return std::any_of(points.begin(), points.end(), isLatinLetter) &&
           std::none_of(points.begin(), points.end(), isJapanese);
}

bool isSpace(char32_t c)
{
    return c == 0x20 || c == 0x09 || (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool isPunctuation(char32_t c)
{
    if (c < 0x80)
        return (c >= 0x21 && c <= 0x2F) || (c >= 0x3A && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
               (c >= 0x7B && c <= 0x7E);
    // CJK symbols and punctuation (、。〃「」『』【】〜 …), general punctuation (… ‥ ‘ ’ “ ” •), middle dot, music
    // signs.
    if (c >= 0x3001 && c <= 0x303F) return true;
    if (c >= 0x2010 && c <= 0x2047) return true;
    if (c == 0x30FB || c == 0xFF65 || c == 0x00B7 || c == 0x266A || c == 0x266B || c == 0x266C) return true;
    return false;
}

std::u32string toCodePoints(std::string_view text)
{
    // An ill-formed byte is left out; the bytes after it are read again, so a cut-off sequence at the end goes
    // whole and a malformed one costs only its own bytes.
    std::u32string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto decoded = Utf8::decode(text, i);
        if (!decoded.wellFormed) {
            ++i;
            continue;
        }
        out.push_back(decoded.codePoint);
        i += decoded.length;
    }
    return out;
}

std::string toUtf8(std::u32string_view codePoints)
{
    return Utf8::encode(codePoints);
}

std::string completeUtf8(std::string_view bytes)
{
    return toUtf8(toCodePoints(bytes));
}

std::string trimmed(std::string_view text)
{
    const std::u32string points = toCodePoints(text);
    const auto first = std::find_if_not(points.begin(), points.end(), isSpace);
    const auto last = std::find_if_not(points.rbegin(), points.rend(), isSpace).base();
    if (first >= last) return {};
    return toUtf8(std::u32string_view(&*first, static_cast<std::size_t>(last - first)));
}

std::u32string normalizedForComparison(std::string_view text)
{
    std::u32string out;
    for (char32_t c : toCodePoints(text)) {
        c = foldWidth(c);
        if (isSpace(c) || isPunctuation(c)) continue;
        if (c >= 'A' && c <= 'Z') c = c - 'A' + 'a';
        out.push_back(c);
    }
    return out;
}

std::string withJapanesePunctuation(std::string_view text)
{
    const auto japaneseOrMark = [](char32_t c) {
        return isJapanese(c) || (c >= 0x3001 && c <= 0x3002) || c == 0xFF01 || c == 0xFF1F;
    };
    std::u32string points = toCodePoints(text);
    for (std::size_t i = 1; i < points.size(); ++i)
        if ((points[i] == U'?' || points[i] == U'!') && isJapanese(points[i - 1])) points[i] += 0xFEE0;
    std::u32string kept;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const bool space = points[i] == U' ' || points[i] == U'\u3000';
        if (space && i > 0 && i + 1 < points.size() && japaneseOrMark(points[i - 1]) && japaneseOrMark(points[i + 1]))
            continue;
        kept.push_back(points[i]);
    }
    return toUtf8(kept);
}

bool isNonSpeechPhrase(std::string_view text)
{
    // What Japanese models trained on subtitles print over silence, music or noise.
    static const std::array<std::u32string, 11> phrases{
        U"ご視聴ありがとうございました",
        U"ご視聴ありがとうございます",
        U"ご清聴ありがとうございました",
        U"最後までご視聴いただきありがとうございました",
        U"チャンネル登録よろしくお願いします",
        U"チャンネル登録お願いします",
        U"高評価とチャンネル登録よろしくお願いします",
        U"次回もお楽しみに",
        U"字幕視聴ありがとうございました",
        U"音楽",
        U"拍手",
    };
    // A video's outro in English, however it goes on ("Thank you for watching today's video." over babble): nobody
    // says it in a Japanese conversation.
    static const std::array<std::u32string, 2> outros{U"thankyouforwatching", U"thanksforwatching"};
    const std::u32string normalized = normalizedForComparison(text);
    if (normalized.empty()) return true;
    for (const auto& phrase : phrases) {
        if (normalized == phrase) return true;
    }
    for (const auto& outro : outros) {
        if (normalized.starts_with(outro)) return true;
    }
    return false;
}

namespace {

// How many consecutive copies of text[start, start + length) begin at start.
std::size_t copiesAt(const std::u32string& text, std::size_t start, std::size_t length)
{
    // A copy may end in other punctuation than the one before it: "もし可能であれば、もし可能であれば。".
    const auto alike = [&](std::size_t copy) {
        for (std::size_t i = 0; i < length; ++i) {
            const char32_t a = text[start + i], b = text[copy + i];
            if (a != b && !(isPunctuation(a) && isPunctuation(b))) return false;
        }
        return true;
    };
    std::size_t copies = 1;
    while (start + (copies + 1) * length <= text.size() && alike(start + copies * length))
        ++copies;
    return copies;
}

// Where a decoder running on past the speech starts its phrase again and falls into pieces of it to the end:
// "…発表は月末になります人事異動の発表は月末にな発表は月末にな発表". Returns where the phrase's first
// copy ends, or npos. The restart must bring back at least half the phrase, and every piece after it must be two or
// more characters of the phrase, so a sentence that merely starts the way the one before it did is left alone.
std::size_t runawayTailStart(const std::u32string& text)
{
    constexpr std::size_t kShortestPhrase = 8;
    for (std::size_t end = kShortestPhrase; end + kShortestPhrase / 2 <= text.size(); ++end) {
        for (std::size_t start = 0; start + kShortestPhrase <= end; ++start) {
            const std::u32string_view phrase(text.data() + start, end - start);
            std::size_t restart = 0;
            while (end + restart < text.size() && restart < phrase.size() && text[end + restart] == phrase[restart])
                ++restart;
            if (restart == phrase.size() || 2 * restart < phrase.size()) continue;
            std::size_t at = end + restart;
            while (at < text.size()) {
                std::size_t longest = 0;
                for (std::size_t from = 0; from < phrase.size(); ++from) {
                    std::size_t n = 0;
                    while (at + n < text.size() && from + n < phrase.size() && text[at + n] == phrase[from + n])
                        ++n;
                    longest = std::max(longest, n);
                }
                if (longest < 2) break;
                at += longest;
            }
            if (at == text.size()) return end;
        }
    }
    return std::u32string::npos;
}

} // namespace

std::string withoutRepetitionLoops(std::string_view text)
{
    std::u32string points = toCodePoints(text);
    bool changed = false;
    // The decoder starts each copy as a new segment, after a space: "…ますか。 …ますか。". A space after Japanese
    // punctuation carries nothing, and without it the copies are alike.
    for (std::size_t i = 1; i < points.size();) {
        const char32_t before = points[i - 1];
        if ((points[i] == U' ' || points[i] == U'\u3000') &&
            (before == U'。' || before == U'、' || before == U'？' || before == U'！')) {
            points.erase(i, 1);
            changed = true;
        } else {
            ++i;
        }
    }
    for (std::size_t start = 0; start < points.size(); ++start) {
        for (std::size_t length = 4; start + 2 * length <= points.size(); ++length) {
            const std::size_t copies = copiesAt(points, start, length);
            if (copies < (length >= 8 ? 2u : 3u)) continue;
            std::size_t end = start + copies * length;
            // A copy the token limit cut short: the rest of the text is only the phrase's beginning.
            const std::size_t rest = points.size() - end;
            if (rest > 0 && rest < length && points.compare(end, rest, points, start, rest) == 0) end = points.size();
            points.erase(start + length, end - (start + length));
            changed = true;
            break;
        }
    }
    if (const std::size_t tail = runawayTailStart(points); tail != std::u32string::npos) {
        points.erase(tail);
        changed = true;
    }
    return changed ? toUtf8(points) : std::string(text);
}

} // namespace tc::RecognizedText
