#include "QuotingAnswererRuns.h"

#include "BenchMeasures.h"
#include "CitationScores.h"
#include "QuestionAnsweringReport.h"

#include "TranscriptionDomain/ConversationQuestionContext.h"
#include "TranscriptionInfrastructure/assistant/ExtractiveAnswerer.h"
#include "TranscriptionInfrastructure/assistant/MecabTokenizer.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace tc::bench {

namespace {

using Clock = std::chrono::steady_clock;
using Levers = ExtractiveAnswerer::Levers;

bool tuningHalf(std::size_t i)
{
    return i % 2 == 0;
}

bool heldOutHalf(std::size_t i)
{
    return i % 2 == 1;
}

std::vector<Numbers> citedOn(const ExtractiveAnswerer& ranker, const QuestionSets& sets,
                             const std::vector<Question>& set)
{
    std::vector<Numbers> cited;
    for (const auto& q : set)
        cited.push_back(ranker.citedLines(q.text, sets.excerptOf(q)));
    return cited;
}

struct TunedThreshold {
    double threshold;
    std::vector<Numbers> citedAtTuned;
    std::vector<Numbers> citedAtOwn;
};

// Ranks the 80 questions once and sweeps the threshold over the tuning half. Both targets weigh the same: the sum
// of hit rate and refusal rate, the middle of the best plateau.
TunedThreshold tuneThreshold(const ExtractiveAnswerer& ranker, const QuestionSets& sets)
{
    std::vector<ExtractiveAnswerer::Ranking> rankings;
    for (const auto& q : sets.questions)
        rankings.push_back(ranker.rank(q.text, sets.excerptOf(q)));
    const auto citedAt = [&](double threshold) {
        std::vector<Numbers> cited;
        for (const auto& r : rankings)
            cited.push_back(r.confidence >= threshold && !r.lineNumbers.empty() ? r.lineNumbers : Numbers{});
        return cited;
    };
    std::vector<double> bestThresholds;
    double bestScore = -1;
    for (int step = 0; step <= 100; ++step) {
        const double threshold = step / 100.0;
        const auto s = score(sets.questions, citedAt(threshold), tuningHalf);
        const double value = s.hitRate() + s.refusalRate();
        if (value > bestScore + 1e-9) {
            bestScore = value;
            bestThresholds.clear();
        }
        if (value > bestScore - 1e-9) bestThresholds.push_back(threshold);
    }
    const double best = bestThresholds[bestThresholds.size() / 2];
    return {best, citedAt(best), citedAt(ranker.threshold())};
}

// Each lever switched off alone, at the shipped threshold: what it brings.
std::vector<std::pair<std::string, Levers>> leversSwitchedOff()
{
    std::vector<std::pair<std::string, Levers>> ablations;
    ablations.emplace_back("without the answer kinds of question words", Levers{});
    ablations.back().second.answerKinds = false;
    ablations.emplace_back("without the previous line's words", Levers{});
    ablations.back().second.previousLine = false;
    ablations.emplace_back("without lighter predicates", Levers{});
    ablations.back().second.lighterPredicates = false;
    ablations.emplace_back("without nouns found inside longer words", Levers{});
    ablations.back().second.spelledInside = false;
    return ablations;
}

// For whoever works on the ranker: the development sets' misses only, never a held-out set's.
void printMisses(const std::vector<Question>& set, const std::vector<Numbers>& cited)
{
    for (std::size_t i = 0; i < set.size(); ++i) {
        if (citedRight(set[i], cited[i])) continue;
        std::printf("miss %zu [%s] %s expected", i, set[i].transcript.c_str(), set[i].text.c_str());
        for (const auto n : set[i].expected)
            std::printf(" %lld", static_cast<long long>(n));
        std::printf(" cited");
        for (const auto n : cited[i])
            std::printf(" %lld", static_cast<long long>(n));
        std::printf("\n");
    }
}

// Totals only, on every set, for a quick look at a change of the ranker.
void printTotals(const QuestionSets& sets, const std::shared_ptr<MecabTokenizer>& tokenizer,
                 const ExtractiveAnswerer& shipped, const ExtractiveAnswerer& rankingAlone,
                 const std::vector<std::pair<std::string, Levers>>& ablations)
{
    const auto print = [&](const char* name, const ExtractiveAnswerer& ranker) {
        std::printf("%-28s", name);
        for (const auto* set : std::array<const std::vector<Question>*, 5>{&sets.questions, &sets.fresh, &sets.garden,
                                                                           &sets.clinic, &sets.heldout2}) {
            const auto s = score(*set, citedOn(ranker, sets, *set));
            std::printf(" | %2d/%2d %2d/%2d %2d/%2d", s.hits, s.answerable, s.citedCorrectly, s.cited, s.refusals,
                        s.unanswerable);
        }
        std::printf("\n");
    };
    std::printf("%-28s | 80 questions   | trip           | garden         | clinic         | heldout2\n", "");
    print("shipped", shipped);
    print("ranking alone", rankingAlone);
    for (int step = 20; step <= 60; step += 4) {
        const auto name = "threshold " + std::to_string(step);
        print(name.c_str(), ExtractiveAnswerer(tokenizer, step / 100.0));
    }
    for (const auto& [name, levers] : ablations)
        print(name.substr(0, 28).c_str(), ExtractiveAnswerer(tokenizer, shipped.threshold(), levers));
}

struct AnswerTimes {
    std::vector<double> eightyLinesMs;
    std::vector<double> longSessionMs;
};

// Time per answer, three rounds of the 80 questions: over an 80-line excerpt, and over the excerpt of a
// 5,000-line session (the excerpt's making included).
AnswerTimes timeAnswers(const ExtractiveAnswerer& shipped, const QuestionSets& sets)
{
    std::vector<FinalizedLine> pool;
    for (const char* name : {"meeting", "casual", "lecture"})
        for (const auto& line : sets.transcripts.at(name).lines())
            pool.push_back(line);
    const auto eighty = ConversationQuestionContext::excerpt(pool, 80);
    std::vector<FinalizedLine> session;
    while (session.size() < 5000)
        for (const auto& line : pool)
            if (session.size() < 5000) session.push_back(FinalizedLine{Uuid::random(), line.text, 0});
    AnswerTimes times;
    for (int round = 0; round < 3; ++round)
        for (const auto& q : sets.questions) {
            auto started = Clock::now();
            shipped.answer(q.text, eighty);
            times.eightyLinesMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
            started = Clock::now();
            shipped.answer(q.text, ConversationQuestionContext::excerpt(session, 80));
            times.longSessionMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
        }
    return times;
}

} // namespace

QuotingAnswererRuns runQuotingAnswerer(const QuestionSets& sets, const std::shared_ptr<MecabTokenizer>& tokenizer,
                                       bool scoreHeldOut)
{
    const auto& questions = sets.questions;
    const auto& fresh = sets.fresh;
    const auto& garden = sets.garden;
    const auto& clinic = sets.clinic;
    const auto& heldout2 = sets.heldout2;
    const auto cited = [&](const ExtractiveAnswerer& ranker, const std::vector<Question>& set) {
        return citedOn(ranker, sets, set);
    };

    const ExtractiveAnswerer shipped(tokenizer);
    const auto tuned = tuneThreshold(shipped, sets);
    const auto& shippedCited = tuned.citedAtOwn;
    const auto freshShipped = score(fresh, cited(shipped, fresh));
    const auto ablations = leversSwitchedOff();
    // As the answerer was before the paraphrase work: every word at full weight, the threshold of then.
    Levers beforeLevers;
    beforeLevers.lighterPredicates = false;
    const ExtractiveAnswerer before(tokenizer, 0.58, beforeLevers);
    if (std::getenv("TC_BENCH_QA_MISSES")) {
        printMisses(questions, shippedCited);
        printMisses(fresh, cited(shipped, fresh));
    }
    const ExtractiveAnswerer bigramOnly(nullptr);
    const auto bigramTuned = tuneThreshold(bigramOnly, sets);
    const ExtractiveAnswerer bigramBefore(nullptr, before.threshold());

    const auto times = timeAnswers(shipped, sets);
    const double meanEighty = mean(times.eightyLinesMs);
    const std::string timing = fixed(meanEighty) + " ms mean, " + fixed(percentile(times.eightyLinesMs, 0.95)) +
                               " ms p95, " + fixed(percentile(times.eightyLinesMs, 1.0)) + " ms max";

    const auto heldOutShipped = score(questions, shippedCited, heldOutHalf);
    const auto tuningShipped = score(questions, shippedCited, tuningHalf);
    const auto allShipped = score(questions, shippedCited);
    std::string report =
        "Material: " + std::to_string(questions.size()) + " questions (" + std::to_string(allShipped.unanswerable) +
        " not answerable; tuning half " + std::to_string(tuningShipped.answerable + tuningShipped.unanswerable) +
        ", held-out half " + std::to_string(heldOutShipped.answerable + heldOutShipped.unanswerable) +
        "), trip meeting " + std::to_string(fresh.size()) + " (" + std::to_string(freshShipped.unanswerable) +
        " not answerable), gardening talk " + std::to_string(garden.size()) + ", clinic " +
        std::to_string(clinic.size()) + ", school meeting and incident review " + std::to_string(heldout2.size()) +
        ".\n\nRefusal threshold tuned on the even-numbered questions: " + fixed(tuned.threshold) +
        "; shipped: " + fixed(shipped.threshold()) + ".\n\n";
    report += "## Quoting answerer (no model, or a base model)\n\n"
              "| run | hit rate | citation precision | correct refusals | time per answer (80 lines) | model memory |\n"
              "|---|---|---|---|---|---|\n";
    report += scoreRow("MeCab BM25, held-out half", heldOutShipped, timing, "none");
    report += scoreRow("MeCab BM25, tuning half", tuningShipped, "", "");
    report += scoreRow("MeCab BM25, all questions", allShipped, "", "");
    report += scoreRow("MeCab BM25, trip conversation (development)", freshShipped, "", "");
    const auto gardenShipped = score(garden, cited(shipped, garden));
    const auto clinicShipped = score(clinic, cited(shipped, clinic));
    const auto heldout2Shipped = score(heldout2, cited(shipped, heldout2));
    if (scoreHeldOut) {
        report += scoreRow("MeCab BM25, gardening talk (held out)", gardenShipped, "", "");
        report += scoreRow("MeCab BM25, clinic consultation (held out)", clinicShipped, "", "");
        report += scoreRow("MeCab BM25, school meeting and incident review (held out, never tuned on)", heldout2Shipped,
                           "", "");
    }
    const auto beforeAll = score(questions, cited(before, questions));
    const auto beforeFresh = score(fresh, cited(before, fresh));
    const auto beforeGarden = score(garden, cited(before, garden));
    const auto beforeClinic = score(clinic, cited(before, clinic));
    report += scoreRow("before: MeCab BM25 at 0.58, all words at full weight, all questions", beforeAll, "", "");
    report += scoreRow("before, trip conversation", beforeFresh, "", "");
    if (scoreHeldOut) {
        report += scoreRow("before, gardening talk", beforeGarden, "", "");
        report += scoreRow("before, clinic consultation", beforeClinic, "", "");
    }
    // Never refusing: what the ranking alone finds, to tell misses of the ranking from refusals.
    const ExtractiveAnswerer rankingAlone(tokenizer, 0.0);
    report += scoreRow("MeCab BM25 by the ranking alone (never refusing), trip conversation",
                       score(fresh, cited(rankingAlone, fresh)), "", "");
    if (scoreHeldOut) {
        report += scoreRow("MeCab BM25 by the ranking alone, gardening talk",
                           score(garden, cited(rankingAlone, garden)), "", "");
        report += scoreRow("MeCab BM25 by the ranking alone, clinic consultation",
                           score(clinic, cited(rankingAlone, clinic)), "", "");
        report += scoreRow("MeCab BM25 by the ranking alone, school meeting and incident review",
                           score(heldout2, cited(rankingAlone, heldout2)), "", "");
    }
    nlohmann::ordered_json gardenAblations;
    for (const auto& [name, levers] : ablations) {
        const ExtractiveAnswerer ablated(tokenizer, shipped.threshold(), levers);
        report +=
            scoreRow("MeCab BM25 " + name + ", all questions", score(questions, cited(ablated, questions)), "", "");
        report += scoreRow("MeCab BM25 " + name + ", trip conversation", score(fresh, cited(ablated, fresh)), "", "");
        if (scoreHeldOut) {
            const auto gardenAblated = score(garden, cited(ablated, garden));
            report += scoreRow("MeCab BM25 " + name + ", gardening talk", gardenAblated, "", "");
            gardenAblations[name] = toJson(gardenAblated);
            report +=
                scoreRow("MeCab BM25 " + name + ", clinic consultation", score(clinic, cited(ablated, clinic)), "", "");
        }
    }
    if (std::getenv("TC_BENCH_QA_TOTALS")) printTotals(sets, tokenizer, shipped, rankingAlone, ablations);

    const auto bigramAll = score(questions, bigramTuned.citedAtOwn);
    const auto bigramFresh = score(fresh, cited(bigramOnly, fresh));
    const auto bigramGarden = score(garden, cited(bigramOnly, garden));
    const auto bigramAt = fixed(bigramOnly.threshold());
    report += scoreRow("character bigrams (no MeCab) at their own threshold " + bigramAt + ", all questions", bigramAll,
                       "", "");
    report += scoreRow("character bigrams at " + bigramAt + ", held-out half",
                       score(questions, bigramTuned.citedAtOwn, heldOutHalf), "", "");
    report += scoreRow("character bigrams at " + bigramAt + ", trip conversation", bigramFresh, "", "");
    if (scoreHeldOut) report += scoreRow("character bigrams at " + bigramAt + ", gardening talk", bigramGarden, "", "");
    const auto sharedAt = fixed(bigramBefore.threshold());
    report += scoreRow("before: character bigrams at the shared " + sharedAt + ", all questions",
                       score(questions, cited(bigramBefore, questions)), "", "");
    report += scoreRow("before: character bigrams at the shared " + sharedAt + ", trip conversation",
                       score(fresh, cited(bigramBefore, fresh)), "", "");
    report += scoreRow("character bigrams at the threshold the tuning half alone picks, " +
                           fixed(bigramTuned.threshold) + ", held-out half",
                       score(questions, bigramTuned.citedAtTuned, heldOutHalf), "", "");
    report += "\nA 5,000-line session (only its last 80 lines are read): " + fixed(mean(times.longSessionMs)) +
              " ms mean, " + fixed(percentile(times.longSessionMs, 0.95)) + " ms p95 per answer, excerpt included.\n\n";

    nlohmann::ordered_json json;
    json["threshold"] = {{"tuned", tuned.threshold}, {"shipped", shipped.threshold()}};
    if (scoreHeldOut) {
        json["clinicHeldOut"] = {{"shipped", toJson(clinicShipped)}, {"before", toJson(beforeClinic)}};
        json["schoolIncidentHeldOut"] = {{"shipped", toJson(heldout2Shipped)}};
        json["gardenHeldOut"] = {{"shipped", toJson(gardenShipped)},
                                 {"before", toJson(beforeGarden)},
                                 {"bigram", toJson(bigramGarden)},
                                 {"ablations", gardenAblations}};
    }
    json["extractive"] = {
        {"heldOut", toJson(heldOutShipped)},
        {"all", toJson(allShipped)},
        {"tripDevelopment", toJson(freshShipped)},
        {"before",
         {{"threshold", before.threshold()}, {"all", toJson(beforeAll)}, {"tripDevelopment", toJson(beforeFresh)}}},
        {"bigram",
         {{"threshold", bigramOnly.threshold()}, {"all", toJson(bigramAll)}, {"tripDevelopment", toJson(bigramFresh)}}},
        {"msPerAnswer80LinesMean", meanEighty},
        {"msPerAnswer80LinesP95", percentile(times.eightyLinesMs, 0.95)},
        {"msPerAnswer5000LineSessionP95", percentile(times.longSessionMs, 0.95)}};
    return {report, json};
}

} // namespace tc::bench
