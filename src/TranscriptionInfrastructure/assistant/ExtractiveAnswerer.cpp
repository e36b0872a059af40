#include "TranscriptionInfrastructure/assistant/ExtractiveAnswerer.h"

#include "TranscriptionDomain/ConversationCitationReconciler.h"
#include "TranscriptionDomain/Utf8.h"
#include "TranscriptionInfrastructure/assistant/MecabTokenizer.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace tc {

namespace {

constexpr double kK1 = 1.2;
constexpr double kB = 0.75;
// A runner-up this close to the best line is quoted too.
constexpr double kRunnerUpShare = 0.85;
constexpr std::size_t kMostQuoted = 2;
// What a line still counts for when the question asks "how many" and the line gives no such number.
constexpr double kWithoutCountShare = 0.5;
// What a question word found only in the previous line counts for.
constexpr double kPreviousLineShare = 0.5;
// What a verb or adjective of the question weighs against a noun.
constexpr double kPredicateShare = 0.5;

// The kinds of answer a question word asks for; each stands in the ranking as a word no text spells.
enum class AnswerKind { time, person, place, money, number };

std::string kindTerm(AnswerKind kind)
{
    return std::string("\x01") + static_cast<char>('A' + static_cast<int>(kind));
}

// Decodes one UTF-8 code point at i and advances i; malformed bytes are read loosely, as they always were.
char32_t nextCodePoint(std::string_view text, std::size_t& i)
{
    const auto decoded = Utf8::decodeLoosely(text, i);
    i += decoded.length;
    return decoded.codePoint;
}

// Full-width letters and digits as ASCII, letters in lower case, so that "３月" meets "3月".
std::string folded(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t point = nextCodePoint(text, i);
        // Punctuation stays full-width: MeCab takes an ASCII "?" for a noun.
        if ((point >= 0xFF10 && point <= 0xFF19) || (point >= 0xFF21 && point <= 0xFF3A) ||
            (point >= 0xFF41 && point <= 0xFF5A))
            point -= 0xFEE0;
        if (point >= 'A' && point <= 'Z') point += 'a' - 'A';
        Utf8::append(out, point);
    }
    return out;
}

bool isSeparator(char32_t point)
{
    if (point < 0x80) return !((point >= '0' && point <= '9') || (point >= 'a' && point <= 'z'));
    return (point >= 0x3000 && point <= 0x303F) || point == 0x30FB || point == 0x2026 || point == 0x2025 ||
           (point >= 0x2000 && point <= 0x206F) || point == 0xFF1F || point == 0xFF01 || point == 0xFF0C ||
           point == 0xFF0E || point == 0xFF1A || point == 0xFF08 || point == 0xFF09;
}

std::vector<std::string> bigrams(std::string_view text)
{
    std::vector<std::string> grams;
    std::string previous;
    for (std::size_t i = 0; i < text.size();) {
        const auto start = i;
        const char32_t point = nextCodePoint(text, i);
        if (isSeparator(point)) {
            previous.clear();
            continue;
        }
        std::string current(text.substr(start, i - start));
        if (!previous.empty()) grams.push_back(previous + current);
        previous = std::move(current);
    }
    return grams;
}

// The counters a question asks a number of ("何人" → 人, "いくら" → 円); most specific first.
std::vector<std::string> countersAskedFor(std::string_view question)
{
    static const std::vector<std::string> counters{"時間", "人", "円", "時", "分", "回",   "度",   "本",
                                                   "歳",   "個", "枚", "点", "日", "か月", "週間", "年"};
    std::vector<std::string> asked;
    for (const auto& counter : counters) {
        const auto wanted = "何" + counter;
        for (auto at = question.find(wanted); at != question.npos; at = question.find(wanted, at + 1)) {
            // "何時間" is not also a question about "時".
            if (counter == "時" && question.substr(at + wanted.size()).starts_with("間")) continue;
            asked.push_back(counter);
            break;
        }
    }
    if (question.find("いくら") != question.npos) asked.push_back("円");
    return asked;
}

bool isNumeral(char32_t point)
{
    static const std::u32string kanji = U"〇一二三四五六七八九十百千万億数半";
    return (point >= '0' && point <= '9') || kanji.find(point) != std::u32string::npos;
}

// Whether the text gives a number of the counter ("五人", "300円").
bool countsIn(std::string_view text, const std::string& counter)
{
    for (auto at = text.find(counter); at != text.npos; at = text.find(counter, at + 1)) {
        std::size_t start = at;
        while (start > 0 && Utf8::isContinuationByte(text[start - 1]))
            --start;
        if (start == 0) continue;
        std::size_t i = start - 1;
        while (i > 0 && Utf8::isContinuationByte(text[i]))
            --i;
        if (isNumeral(nextCodePoint(text, i))) return true;
    }
    return false;
}

// What follows each run of numerals in the text ("四月十日に" gives "月十日に" and "日に").
std::vector<std::string_view> afterNumerals(std::string_view text)
{
    std::vector<std::string_view> rests;
    bool inNumber = false;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t start = i;
        const bool numeral = isNumeral(nextCodePoint(text, i));
        if (inNumber && !numeral) rests.push_back(text.substr(start));
        inNumber = numeral;
    }
    return rests;
}

bool containsAny(std::string_view text, std::initializer_list<std::string_view> pieces)
{
    return std::any_of(pieces.begin(), pieces.end(),
                       [&](std::string_view piece) { return text.find(piece) != text.npos; });
}

bool followsNumeral(std::string_view text, std::initializer_list<std::string_view> units)
{
    for (const auto rest : afterNumerals(text))
        for (const auto unit : units)
            if (rest.starts_with(unit)) return true;
    return false;
}

std::vector<AnswerKind> kindsAskedFor(std::string_view question)
{
    std::vector<AnswerKind> kinds;
    const bool askedHour = [&] {
        for (auto at = question.find("何時"); at != question.npos; at = question.find("何時", at + 1))
            if (!question.substr(at + std::string_view("何時").size()).starts_with("間")) return true;
        return false;
    }();
    const bool askedWhen = question.find("いつ") != question.npos && question.find("いつも") == question.npos;
    if (askedWhen || askedHour || containsAny(question, {"何日", "何月", "何曜", "何年"}))
        kinds.push_back(AnswerKind::time);
    if (containsAny(question, {"誰", "だれ", "どなた"})) kinds.push_back(AnswerKind::person);
    if (containsAny(question, {"どこ"})) kinds.push_back(AnswerKind::place);
    if (containsAny(question, {"いくら", "何円"})) kinds.push_back(AnswerKind::money);
    if (containsAny(question, {"どれくらい", "どのくらい", "どれぐらい", "どのぐらい", "いくつ"}) ||
        !countersAskedFor(question).empty())
        kinds.push_back(AnswerKind::number);
    return kinds;
}

// Whether a line gives an answer of the kind; words are the line's terms.
bool carries(AnswerKind kind, std::string_view text, const std::unordered_map<std::string, int>& words)
{
    switch (kind) {
    case AnswerKind::time:
        return followsNumeral(text, {"月", "日", "時", "分", "年", "曜", "週"}) ||
               containsAny(text,
                           {"今日", "明日", "あした", "昨日", "今週", "来週", "先週", "今月", "来月", "先月", "今年",
                            "来年", "去年", "昨年",   "週末", "月末", "年末", "午前", "午後", "夕方", "曜日"});
    case AnswerKind::person: {
        if (words.contains(std::string(MecabTokenizer::kPersonName))) return true;
        for (auto at = text.find("さん"); at != text.npos; at = text.find("さん", at + 1))
            if (at > 0 && !text.substr(0, at).ends_with("皆") && !text.substr(0, at).ends_with("みな")) return true;
        return false;
    }
    case AnswerKind::place:
        return words.contains(std::string(MecabTokenizer::kPlaceName)) ||
               followsNumeral(text, {"階", "号館", "号室", "番線", "丁目", "番地"});
    case AnswerKind::money: return followsNumeral(text, {"円", "ドル"}) || containsAny(text, {"無料"});
    case AnswerKind::number: return !afterNumerals(text).empty();
    }
    return false;
}

// Two characters or more, not all hiragana: inside other text it is still that word, not a piece of grammar.
bool spellsAWord(std::string_view term)
{
    if (term.starts_with('\x01')) return false;
    std::size_t characters = 0;
    bool hiraganaOnly = true;
    for (std::size_t i = 0; i < term.size();) {
        const char32_t point = nextCodePoint(term, i);
        ++characters;
        if (point < 0x3040 || point > 0x309F) hiraganaOnly = false;
    }
    return characters >= 2 && !hiraganaOnly;
}

// A line that asks rather than tells: its answer is most likely the next line.
bool asksSomething(std::string_view text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n'))
        text.remove_suffix(1);
    for (std::string_view ending : {"？", "?", "か", "か。", "っけ", "っけ。", "かな", "かな。"})
        if (text.ends_with(ending)) return true;
    return false;
}

} // namespace

ExtractiveAnswerer::ExtractiveAnswerer(std::shared_ptr<MecabTokenizer> tokenizer, std::optional<double> threshold)
    : ExtractiveAnswerer(std::move(tokenizer), threshold, Levers{})
{}

ExtractiveAnswerer::ExtractiveAnswerer(std::shared_ptr<MecabTokenizer> tokenizer, std::optional<double> threshold,
                                       Levers levers)
    : m_tokenizer(std::move(tokenizer)), m_levers(levers)
{
    const bool words = m_tokenizer && m_tokenizer->isAvailable();
    m_threshold = threshold.value_or(words ? kDefaultThreshold : kBigramThreshold);
}

std::vector<ExtractiveAnswerer::Term> ExtractiveAnswerer::terms(const std::string& text) const
{
    const auto plain = folded(text);
    std::vector<Term> found;
    if (m_tokenizer)
        if (auto words = m_tokenizer->words(plain)) {
            for (auto& word : *words)
                found.push_back(Term{std::move(word.text), word.predicate});
            return found;
        }
    for (auto& gram : bigrams(plain))
        found.push_back(Term{std::move(gram)});
    return found;
}

ExtractiveAnswerer::Ranking ExtractiveAnswerer::rank(const std::string& question,
                                                     const ConversationExcerpt& excerpt) const
{
    const auto& lines = excerpt.lines();
    if (lines.empty()) return {};
    // The question's words once each; a word the question also uses as a noun is not a predicate.
    std::vector<std::string> asked;
    std::unordered_set<std::string> predicates;
    {
        auto questionTerms = terms(question);
        std::unordered_set<std::string> nouns;
        for (const auto& term : questionTerms)
            (term.predicate ? predicates : nouns).insert(term.text);
        for (const auto& noun : nouns)
            predicates.erase(noun);
        for (auto& term : questionTerms)
            asked.push_back(std::move(term.text));
    }
    std::sort(asked.begin(), asked.end());
    asked.erase(std::unique(asked.begin(), asked.end()), asked.end());
    if (asked.empty()) return {};

    std::vector<std::unordered_map<std::string, int>> counts(lines.size());
    std::vector<double> lengths(lines.size());
    std::unordered_map<std::string, int> documents;
    double totalLength = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto words = terms(lines[i].text);
        lengths[i] = static_cast<double>(words.size());
        totalLength += lengths[i];
        for (const auto& word : words)
            if (++counts[i][word.text] == 1) ++documents[word.text];
    }
    // A noun the line says inside a longer one ("会議室" in "第二会議室") is said all the same.
    if (m_levers.spelledInside) {
        for (const auto& term : asked) {
            if (predicates.contains(term) || !spellsAWord(term)) continue;
            for (std::size_t i = 0; i < lines.size(); ++i)
                if (!counts[i].contains(term) && folded(lines[i].text).find(term) != std::string::npos) {
                    counts[i][term] = 1;
                    ++documents[term];
                }
        }
    }
    // A line that asks carries the kind of answer the line after it gives.
    if (m_levers.answerKinds) {
        // Character bigrams cannot tell a place name from any other word.
        const bool seesNames = m_tokenizer && m_tokenizer->isAvailable();
        for (const auto kind : kindsAskedFor(folded(question))) {
            if (kind == AnswerKind::place && !seesNames) continue;
            const auto term = kindTerm(kind);
            std::vector<bool> carried(lines.size());
            for (std::size_t i = 0; i < lines.size(); ++i)
                carried[i] = carries(kind, folded(lines[i].text), counts[i]);
            for (std::size_t i = 0; i < lines.size(); ++i)
                if (carried[i] || (asksSomething(lines[i].text) && i + 1 < lines.size() && carried[i + 1])) {
                    counts[i][term] = 1;
                    ++documents[term];
                }
            // The kinds are seen by a few rules only ("動画サイトで" is a place they miss): a kind no line carries
            // tells no line apart and is no reason to refuse.
            if (documents.contains(term)) asked.push_back(term);
        }
    }
    const double n = static_cast<double>(lines.size());
    const double averageLength = std::max(1.0, totalLength / n);
    std::vector<double> idf;
    double questionWeight = 0;
    for (const auto& term : asked) {
        const auto found = documents.find(term);
        const double df = found == documents.end() ? 0 : found->second;
        double weight = std::log(1.0 + (n - df + 0.5) / (df + 0.5));
        // A part of a compound the question also names ("発表" in "発表会") counts half.
        if (std::any_of(asked.begin(), asked.end(), [&](const std::string& other) {
                return other.size() > term.size() && other.find(term) != other.npos;
            }))
            weight /= 2;
        if (m_levers.lighterPredicates && predicates.contains(term)) weight *= kPredicateShare;
        idf.push_back(weight);
        questionWeight += idf.back();
    }

    std::vector<double> scores(lines.size(), 0.0);
    std::vector<double> covered(lines.size(), 0.0);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const double norm = kK1 * (1 - kB + kB * lengths[i] / averageLength);
        for (std::size_t t = 0; t < asked.size(); ++t) {
            const auto found = counts[i].find(asked[t]);
            if (found == counts[i].end()) {
                const bool kind = asked[t].starts_with('\x01');
                if (m_levers.previousLine && !kind && i > 0 && counts[i - 1].contains(asked[t])) {
                    scores[i] += kPreviousLineShare * idf[t] * (kK1 + 1) / (1 + norm);
                    covered[i] += kPreviousLineShare * idf[t];
                }
                continue;
            }
            const double tf = found->second;
            scores[i] += idf[t] * tf * (kK1 + 1) / (tf + norm);
            covered[i] += idf[t];
        }
    }
    // A question after a number of something is not answered by a line without one; a line that asks is
    // judged by the line answering it.
    const auto counters = countersAskedFor(folded(question));
    if (!counters.empty()) {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            std::string text = folded(lines[i].text);
            if (asksSomething(lines[i].text) && i + 1 < lines.size()) text += folded(lines[i + 1].text);
            if (!std::any_of(counters.begin(), counters.end(), [&](const auto& c) { return countsIn(text, c); }))
                covered[i] *= kWithoutCountShare;
        }
    }
    std::vector<std::size_t> order(lines.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    // Lines are short: the one covering most of the question wins, BM25 only breaks ties.
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (std::abs(covered[a] - covered[b]) > 1e-9) return covered[a] > covered[b];
        return scores[a] > scores[b];
    });
    const auto number = [](std::size_t index) { return static_cast<std::int64_t>(index) + 1; };
    Ranking ranking;
    for (std::size_t i = 0; i < std::min(order.size(), kShortlist); ++i)
        ranking.shortlist.push_back(number(order[i]));
    const std::size_t best = order.front();
    if (scores[best] <= 0) return ranking;

    ranking.confidence = questionWeight > 0 ? covered[best] / questionWeight : 0;
    if (asksSomething(lines[best].text) && best + 1 < lines.size()) {
        ranking.lineNumbers = {number(best + 1), number(best)};
        return ranking;
    }
    ranking.lineNumbers.push_back(number(best));
    if (order.size() > 1 && scores[order[1]] >= kRunnerUpShare * scores[best] &&
        ranking.lineNumbers.size() < kMostQuoted)
        ranking.lineNumbers.push_back(number(order[1]));
    return ranking;
}

std::vector<std::int64_t> ExtractiveAnswerer::citedLines(const std::string& question,
                                                         const ConversationExcerpt& excerpt) const
{
    return citedLines(rank(question, excerpt));
}

std::vector<std::int64_t> ExtractiveAnswerer::citedLines(const Ranking& ranking) const
{
    if (ranking.lineNumbers.empty() || ranking.confidence < m_threshold) return {};
    return ranking.lineNumbers;
}

std::string ExtractiveAnswerer::quote(const std::vector<std::int64_t>& lineNumbers, const ConversationExcerpt& excerpt)
{
    std::vector<std::int64_t> inOrder = lineNumbers;
    std::sort(inOrder.begin(), inOrder.end());
    std::string text;
    for (const auto number : inOrder) {
        if (number < 1 || number > static_cast<std::int64_t>(excerpt.lines().size())) continue;
        if (!text.empty()) text += '\n';
        text += "「" + excerpt.lines()[static_cast<std::size_t>(number - 1)].text + "」";
    }
    return text;
}

ConversationAnswer ExtractiveAnswerer::answer(const std::string& question, const ConversationExcerpt& excerpt) const
{
    return answerCiting(citedLines(question, excerpt), excerpt);
}

ConversationAnswer ExtractiveAnswerer::answerCiting(const std::vector<std::int64_t>& cited,
                                                    const ConversationExcerpt& excerpt)
{
    if (cited.empty()) return ConversationAnswer{kNotInConversation, {}};
    return ConversationAnswer{quote(cited, excerpt), ConversationCitationReconciler::resolveIDs(cited, excerpt)};
}

} // namespace tc
