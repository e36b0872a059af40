#include "recognition/LivePassScores.h"

#include "BenchMeasures.h"
#include "TranscriptionInfrastructure/speech/RecognitionScoring.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <map>
#include <set>

namespace tc::bench {

namespace {

namespace S = tc::RecognitionScoring;

// Which reference sentence each hypothesis character lines up with, by a minimum-edit alignment of the whole
// recording's text; -1 for a character with no counterpart. Also the edit distance.
std::vector<int> align(const std::u32string& ref, const std::vector<int>& refSentence, const std::u32string& hyp,
                       std::size_t& edits)
{
    const std::size_t n = ref.size(), m = hyp.size();
    std::vector<std::uint32_t> cost((n + 1) * (m + 1));
    const auto at = [&](std::size_t i, std::size_t j) -> std::uint32_t& { return cost[i * (m + 1) + j]; };
    for (std::size_t i = 0; i <= n; ++i)
        at(i, 0) = static_cast<std::uint32_t>(i);
    for (std::size_t j = 0; j <= m; ++j)
        at(0, j) = static_cast<std::uint32_t>(j);
    for (std::size_t i = 1; i <= n; ++i)
        for (std::size_t j = 1; j <= m; ++j)
            at(i, j) =
                std::min({at(i - 1, j) + 1, at(i, j - 1) + 1, at(i - 1, j - 1) + (ref[i - 1] == hyp[j - 1] ? 0U : 1U)});
    edits = at(n, m);
    std::vector<int> owner(m, -1);
    std::size_t i = n, j = m;
    while (i > 0 && j > 0) {
        if (at(i, j) == at(i - 1, j - 1) + (ref[i - 1] == hyp[j - 1] ? 0U : 1U)) {
            owner[j - 1] = refSentence[i - 1];
            --i;
            --j;
        } else if (at(i, j) == at(i, j - 1) + 1) {
            --j;
        } else {
            --i;
        }
    }
    return owner;
}

nlohmann::json spread(const std::vector<double>& values)
{
    return {{"p50", tc::bench::percentile(values, 0.5)},
            {"p95", tc::bench::percentile(values, 0.95)},
            {"count", values.size()}};
}

} // namespace

nlohmann::json scoreSpeech(const std::vector<Sentence>& sentences, const Pass& pass)
{
    std::u32string ref;
    std::vector<int> refSentence;
    for (std::size_t s = 0; s < sentences.size(); ++s) {
        const auto text = S::normalized(sentences[s].text);
        ref += text;
        refSentence.insert(refSentence.end(), text.size(), static_cast<int>(s));
    }
    std::vector<Event> lines;
    std::u32string hyp;
    std::vector<std::size_t> hypLine;
    for (const auto& e : pass.events) {
        if (!e.final || e.text.empty()) continue;
        const auto text = S::normalized(e.text);
        hyp += text;
        hypLine.insert(hypLine.end(), text.size(), lines.size());
        lines.push_back(e);
    }
    std::size_t edits = 0;
    const auto owner = align(ref, refSentence, hyp, edits);

    // A line stands for a sentence when a fifth of the sentence (two characters at least) lines up with it.
    std::vector<std::map<int, std::size_t>> lineSentences(lines.size());
    for (std::size_t c = 0; c < hyp.size(); ++c)
        if (owner[c] >= 0) ++lineSentences[hypLine[c]][owner[c]];
    std::vector<std::vector<std::size_t>> sentenceLines(sentences.size());
    std::size_t mergedLines = 0, unmatchedLines = 0, repeated = 0, latinInvented = 0;
    nlohmann::json faults = nlohmann::json::array();
    for (std::size_t l = 0; l < lines.size(); ++l) {
        std::string spoken;
        std::size_t covered = 0;
        for (const auto& [s, count] : lineSentences[l]) {
            const std::size_t length = S::normalized(sentences[static_cast<std::size_t>(s)].text).size();
            if (count < std::max<std::size_t>(2, length / 5)) continue;
            sentenceLines[static_cast<std::size_t>(s)].push_back(l);
            spoken += sentences[static_cast<std::size_t>(s)].text;
            ++covered;
        }
        if (covered == 0) ++unmatchedLines;
        if (covered > 1) ++mergedLines;
        const std::size_t loops = S::repeatedPhrases(spoken, lines[l].text);
        const auto latin = S::inventedLatinWords(spoken, lines[l].text);
        repeated += loops;
        latinInvented += latin.size();
        if (covered != 1 || loops || !latin.empty()) faults.push_back(lines[l].text);
    }

    std::vector<double> finalLatency, firstVolatile;
    std::vector<int> lastLine;
    std::size_t split = 0, missed = 0;
    for (std::size_t s = 0; s < sentences.size(); ++s) {
        const auto& mine = sentenceLines[s];
        lastLine.push_back(mine.empty() ? -1 : static_cast<int>(mine.back()));
        if (mine.empty()) ++missed;
        if (mine.size() > 1) ++split;
        if (!mine.empty()) finalLatency.push_back(lines[mine.back()].at - sentences[s].end);
        const double next = s + 1 < sentences.size() ? sentences[s + 1].start : sentences[s].end + kTailSeconds;
        for (const auto& e : pass.events) {
            if (!e.final && !e.text.empty() && e.at >= sentences[s].start && e.at < next) {
                firstVolatile.push_back(e.at - sentences[s].start);
                break;
            }
        }
        // Which sentences make the slow tail, and what they became.
        if (std::getenv("TC_BENCH_DETAIL") && !mine.empty()) {
            std::cerr << "  #" << s << " final +" << std::fixed << std::setprecision(2) << finalLatency.back()
                      << " s: " << lines[mine.back()].text << '\n';
            for (const auto& e : pass.events)
                if (e.at >= sentences[s].start && e.at < next + 3.0)
                    std::cerr << "      " << (e.final ? "F " : "v ") << std::setprecision(2) << e.at - sentences[s].end
                              << ' ' << e.text << '\n';
        }
    }
    std::vector<std::string> lineTexts;
    for (const auto& l : lines)
        lineTexts.push_back(l.text);
    const double audioSeconds = sentences.back().end + 1.0;
    return {{"sentences", sentences.size()},
            {"cer", ref.empty() ? 0.0 : static_cast<double>(edits) / static_cast<double>(ref.size())},
            {"lines", lines.size()},
            {"linesPerSentence", static_cast<double>(lines.size()) / static_cast<double>(sentences.size())},
            {"splitSentences", split},
            {"mergedLines", mergedLines},
            {"missedSentences", missed},
            {"unmatchedLines", unmatchedLines},
            {"repeatedPhrases", repeated},
            {"inventedLatinWords", latinInvented},
            {"firstVolatile", spread(firstVolatile)},
            {"finalLatency", spread(finalLatency)},
            {"cpuCores", pass.cpuSeconds / pass.wallSeconds},
            {"audioSeconds", audioSeconds},
            {"loadBefore", pass.loadBefore},
            {"loadAfter", pass.loadAfter},
            {"faults", faults},
            {"sentenceLastLine", lastLine},
            {"text", lineTexts}};
}

nlohmann::json scoreNonSpeech(const Pass& pass, double seconds)
{
    std::vector<std::string> invented;
    for (const auto& e : pass.events)
        if (e.final && !e.text.empty()) invented.push_back(e.text);
    return {{"seconds", seconds},
            {"inventedLines", invented.size()},
            {"inventedLinesPer5Min", static_cast<double>(invented.size()) * 300.0 / seconds},
            {"cpuCores", pass.cpuSeconds / pass.wallSeconds},
            {"loadBefore", pass.loadBefore},
            {"loadAfter", pass.loadAfter},
            {"text", invented}};
}

} // namespace tc::bench
