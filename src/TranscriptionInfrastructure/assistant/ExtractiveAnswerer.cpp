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

// The question's words once each; a word the question also uses as a noun is not a predicate.
struct AskedTerms {
    std::vector<std::string> terms;
    std::unordered_set<std::string> predicates;
};

AskedTerms askedTerms(std::vector<ExtractiveAnswerer::Term> questionTerms)
{
    AskedTerms asked;
    std::unordered_set<std::string> nouns;
    for (const auto& term : questionTerms)
        (term.predicate ? asked.predicates : nouns).insert(term.text);
    for (const auto& noun : nouns)
        asked.predicates.erase(noun);
    for (auto& term : questionTerms)
        asked.terms.push_back(std::move(term.text));
    std::sort(asked.terms.begin(), asked.terms.end());
    asked.terms.erase(std::unique(asked.terms.begin(), asked.terms.end()), asked.terms.end());
    return asked;
}

// Each line's term counts and length, and how many lines hold each term.
struct LineTerms {
    explicit LineTerms(std::size_t lines) : counts(lines), lengths(lines) {}

    void add(std::size_t line, const std::vector<ExtractiveAnswerer::Term>& words)
    {
        lengths[line] = static_cast<double>(words.size());
        totalLength += lengths[line];
        for (const auto& word : words)
            if (++counts[line][word.text] == 1) ++documents[word.text];
    }
    // Counts the term once in a line that does not hold it yet.
    void mark(std::size_t line, const std::string& term)
    {
        counts[line][term] = 1;
        ++documents[term];
    }

    std::vector<std::unordered_map<std::string, int>> counts;
    std::vector<double> lengths;
    std::unordered_map<std::string, int> documents;
    double totalLength = 0;
};

// A noun the line says inside a longer one ("会議室" in "第二会議室") is said all the same.
void countSpelledInside(const AskedTerms& asked, const std::vector<FinalizedLine>& lines, LineTerms& index)
{
    for (const auto& term : asked.terms) {
        if (asked.predicates.contains(term) || !spellsAWord(term)) continue;
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (!index.counts[i].contains(term) && folded(lines[i].text).find(term) != std::string::npos)
                index.mark(i, term);
    }
}

// The kind of answer the question asks for becomes a term of the lines carrying one; a line that asks carries the
// kind the line after it gives.
void countAnswerKinds(const std::string& question, const std::vector<FinalizedLine>& lines, bool seesNames,
                      AskedTerms& asked, LineTerms& index)
{
    for (const auto kind : kindsAskedFor(folded(question))) {
        if (kind == AnswerKind::place && !seesNames) continue;
        const auto term = kindTerm(kind);
        std::vector<bool> carried(lines.size());
        for (std::size_t i = 0; i < lines.size(); ++i)
            carried[i] = carries(kind, folded(lines[i].text), index.counts[i]);
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (carried[i] || (asksSomething(lines[i].text) && i + 1 < lines.size() && carried[i + 1]))
                index.mark(i, term);
        // The kinds are seen by a few rules only ("動画サイトで" is a place they miss): a kind no line carries
        // tells no line apart and is no reason to refuse.
        if (index.documents.contains(term)) asked.terms.push_back(term);
    }
}

// Each asked term's idf, and their sum: the weight of the whole question.
struct TermWeights {
    std::vector<double> idf;
    double question = 0;
};

TermWeights termWeights(const AskedTerms& asked, const LineTerms& index, bool lighterPredicates)
{
    const double n = static_cast<double>(index.counts.size());
    TermWeights weights;
    for (const auto& term : asked.terms) {
        const auto found = index.documents.find(term);
        const double df = found == index.documents.end() ? 0 : found->second;
        double weight = std::log(1.0 + (n - df + 0.5) / (df + 0.5));
        // A part of a compound the question also names ("発表" in "発表会") counts half.
        if (std::any_of(asked.terms.begin(), asked.terms.end(), [&](const std::string& other) {
                return other.size() > term.size() && other.find(term) != other.npos;
            }))
            weight /= 2;
        if (lighterPredicates && asked.predicates.contains(term)) weight *= kPredicateShare;
        weights.idf.push_back(weight);
        weights.question += weight;
    }
    return weights;
}

// Per line: the BM25 score, and the weight of the question's terms it holds.
struct LineScores {
    std::vector<double> bm25;
    std::vector<double> covered;
};

LineScores scoreLines(const AskedTerms& asked, const TermWeights& weights, const LineTerms& index, bool previousLine)
{
    const std::size_t lines = index.counts.size();
    const double averageLength = std::max(1.0, index.totalLength / static_cast<double>(lines));
    LineScores scores{std::vector<double>(lines, 0.0), std::vector<double>(lines, 0.0)};
    for (std::size_t i = 0; i < lines; ++i) {
        const double norm = kK1 * (1 - kB + kB * index.lengths[i] / averageLength);
        for (std::size_t t = 0; t < asked.terms.size(); ++t) {
            const auto& term = asked.terms[t];
            const auto found = index.counts[i].find(term);
            if (found == index.counts[i].end()) {
                const bool kind = term.starts_with('\x01');
                if (previousLine && !kind && i > 0 && index.counts[i - 1].contains(term)) {
                    scores.bm25[i] += kPreviousLineShare * weights.idf[t] * (kK1 + 1) / (1 + norm);
                    scores.covered[i] += kPreviousLineShare * weights.idf[t];
                }
                continue;
            }
            const double tf = found->second;
            scores.bm25[i] += weights.idf[t] * tf * (kK1 + 1) / (tf + norm);
            scores.covered[i] += weights.idf[t];
        }
    }
    return scores;
}

// A question after a number of something is not answered by a line without one; a line that asks is judged by the
// line answering it.
void discountLinesWithoutCount(const std::string& question, const std::vector<FinalizedLine>& lines, LineScores& scores)
{
    const auto counters = countersAskedFor(folded(question));
    if (counters.empty()) return;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string text = folded(lines[i].text);
        if (asksSomething(lines[i].text) && i + 1 < lines.size()) text += folded(lines[i + 1].text);
        if (!std::any_of(counters.begin(), counters.end(), [&](const auto& c) { return countsIn(text, c); }))
            scores.covered[i] *= kWithoutCountShare;
    }
}

// Lines are short: the one covering most of the question wins, BM25 only breaks ties. The best is quoted with the
// line answering it when it asks, else with a runner-up close to it.
ExtractiveAnswerer::Ranking rankingOf(const std::vector<FinalizedLine>& lines, const LineScores& scores,
                                      double questionWeight)
{
    std::vector<std::size_t> order(lines.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (std::abs(scores.covered[a] - scores.covered[b]) > 1e-9) return scores.covered[a] > scores.covered[b];
        return scores.bm25[a] > scores.bm25[b];
    });
    const auto number = [](std::size_t index) { return static_cast<std::int64_t>(index) + 1; };
    ExtractiveAnswerer::Ranking ranking;
    for (std::size_t i = 0; i < std::min(order.size(), ExtractiveAnswerer::kShortlist); ++i)
        ranking.shortlist.push_back(number(order[i]));
    const std::size_t best = order.front();
    if (scores.bm25[best] <= 0) return ranking;

    ranking.confidence = questionWeight > 0 ? scores.covered[best] / questionWeight : 0;
    if (asksSomething(lines[best].text) && best + 1 < lines.size()) {
        ranking.lineNumbers = {number(best + 1), number(best)};
        return ranking;
    }
    ranking.lineNumbers.push_back(number(best));
    if (order.size() > 1 && scores.bm25[order[1]] >= kRunnerUpShare * scores.bm25[best] &&
        ranking.lineNumbers.size() < kMostQuoted)
        ranking.lineNumbers.push_back(number(order[1]));
    return ranking;
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
    AskedTerms asked = askedTerms(terms(question));
    if (asked.terms.empty()) return {};

    LineTerms index(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i)
        index.add(i, terms(lines[i].text));
    if (m_levers.spelledInside) countSpelledInside(asked, lines, index);
    // Character bigrams cannot tell a place name from any other word.
    if (m_levers.answerKinds)
        countAnswerKinds(question, lines, m_tokenizer && m_tokenizer->isAvailable(), asked, index);

    const TermWeights weights = termWeights(asked, index, m_levers.lighterPredicates);
    LineScores scores = scoreLines(asked, weights, index, m_levers.previousLine);
    discountLinesWithoutCount(question, lines, scores);
    return rankingOf(lines, scores, weights.question);
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
