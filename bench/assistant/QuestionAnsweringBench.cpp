// Question answering over three written transcripts (a meeting, a casual talk, a lecture) and 80 questions with
// the lines that answer them (13 with none): citation hit rate, citation precision, correct refusals, time per
// answer and model memory, for the quoting answerer and for every installed language model.
// The refusal threshold is tuned on the even-numbered questions and reported on the odd-numbered ones. Three more
// conversations carry listener-phrased questions of their own: a trip meeting, read while developing the ranker,
// and a gardening talk, a clinic consultation, a school meeting and an incident review, held out (scored only
// with TC_BENCH_QA_HELDOUT set). Set TC_BENCH_QA_MISSES to list the misses of the first four, TC_BENCH_QA_TOTALS to
// print every set's totals for the shipped ranker, a sweep of thresholds and each lever switched off. Writes question-answering.md and question-answering.json
// into the results folder.
#include "BenchMeasures.h"

#include <array>
#include "TranscriptionDomain/ConversationQuestionContext.h"
#include "TranscriptionInfrastructure/assistant/ExtractiveAnswerer.h"
#include "TranscriptionInfrastructure/assistant/FoundationModelsConversationResponder.h"
#include "TranscriptionInfrastructure/assistant/LlamaLanguageModel.h"
#include "TranscriptionInfrastructure/assistant/MecabTokenizer.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <numeric>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Numbers = std::vector<std::int64_t>;

struct Question {
    std::string transcript;
    std::string text;
    Numbers expected;
};

struct Scores {
    int answerable = 0;
    int hits = 0;
    int unanswerable = 0;
    int refusals = 0;
    int cited = 0;
    int citedCorrectly = 0;

    double hitRate() const { return answerable ? static_cast<double>(hits) / answerable : 0; }
    double refusalRate() const { return unanswerable ? static_cast<double>(refusals) / unanswerable : 0; }
    double precision() const { return cited ? static_cast<double>(citedCorrectly) / cited : 0; }
    int correct() const { return hits + refusals; }
};

Scores score(const std::vector<Question>& questions, const std::vector<Numbers>& cited,
             const std::function<bool(std::size_t)>& include)
{
    Scores s;
    for (std::size_t i = 0; i < questions.size(); ++i) {
        if (!include(i)) continue;
        const auto& expected = questions[i].expected;
        const std::set<std::int64_t> wanted(expected.begin(), expected.end());
        if (expected.empty()) {
            ++s.unanswerable;
            if (cited[i].empty()) ++s.refusals;
        } else {
            ++s.answerable;
            if (!cited[i].empty() && wanted.contains(cited[i].front())) ++s.hits;
        }
        for (const auto number : cited[i]) {
            ++s.cited;
            if (wanted.contains(number)) ++s.citedCorrectly;
        }
    }
    return s;
}

std::vector<tc::FinalizedLine> readLines(const std::filesystem::path& file)
{
    std::ifstream stream(file);
    std::vector<tc::FinalizedLine> lines;
    for (std::string text; std::getline(stream, text);)
        lines.push_back(tc::FinalizedLine{tc::Uuid::random(), text, 0});
    return lines;
}

Numbers numbersOf(const tc::ConversationAnswer& answer, const tc::ConversationExcerpt& excerpt)
{
    Numbers numbers;
    for (const auto& id : answer.sourceLineIDs)
        for (std::size_t i = 0; i < excerpt.lines().size(); ++i)
            if (excerpt.lines()[i].id == id) numbers.push_back(static_cast<std::int64_t>(i) + 1);
    return numbers;
}

std::string percent(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %%", value * 100);
    return text;
}

std::string fixed(double value, int digits = 2)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    return text;
}

std::string row(const std::string& name, const Scores& s, const std::string& timing, const std::string& memory)
{
    std::ostringstream out;
    out << "| " << name << " | " << percent(s.hitRate()) << " (" << s.hits << "/" << s.answerable << ") | "
        << percent(s.precision()) << " (" << s.citedCorrectly << "/" << s.cited << ") | " << percent(s.refusalRate())
        << " (" << s.refusals << "/" << s.unanswerable << ") | " << timing << " | " << memory << " |\n";
    return out.str();
}

nlohmann::ordered_json toJson(const Scores& s)
{
    return {{"hitRate", s.hitRate()},
            {"citationPrecision", s.precision()},
            {"correctRefusals", s.refusalRate()},
            {"answerable", s.answerable},
            {"unanswerable", s.unanswerable}};
}

// Presents a base model as instruction-tuned, to show what its own answers would be.
class ForcedChatModel final : public tc::LanguageModel {
public:
    explicit ForcedChatModel(std::shared_ptr<tc::LanguageModel> model) : m_model(std::move(model)) {}
    Availability availability() override { return Availability::available; }
    std::string fileName() const override { return m_model->fileName(); }
    Reply respond(const std::string& instructions, const std::string& prompt, const std::string& schema,
                  std::stop_token stop) override
    {
        return m_model->respond(instructions, prompt, schema, stop);
    }
    double probabilityOfYes(const std::string& instructions, const std::string& prompt, const std::string& yes,
                            const std::string& no, std::stop_token stop) override
    {
        return m_model->probabilityOfYes(instructions, prompt, yes, no, stop);
    }

private:
    std::shared_ptr<tc::LanguageModel> m_model;
};

// Counts what the model was asked and how its replies ended, passing everything through.
class CountingModel final : public tc::LanguageModel {
public:
    explicit CountingModel(std::shared_ptr<tc::LanguageModel> model) : m_model(std::move(model)) {}
    Availability availability() override { return m_model->availability(); }
    std::string fileName() const override { return m_model->fileName(); }
    Reply respond(const std::string& instructions, const std::string& prompt, const std::string& schema,
                  std::stop_token stop) override
    {
        ++asked;
        try {
            auto reply = m_model->respond(instructions, prompt, schema, stop);
            if (reply.cut) ++cut;
            return reply;
        } catch (const tc::LanguageModelError& error) {
            ++(error.kind() == tc::LanguageModelError::Kind::timedOut ? timedOut : failed);
            throw;
        }
    }
    double probabilityOfYes(const std::string& instructions, const std::string& prompt, const std::string& yes,
                            const std::string& no, std::stop_token stop) override
    {
        return m_model->probabilityOfYes(instructions, prompt, yes, no, stop);
    }
    int asked = 0;
    int cut = 0;
    int timedOut = 0;
    int failed = 0;

private:
    std::shared_ptr<tc::LanguageModel> m_model;
};

const char* kindName(tc::LanguageModel::Availability state)
{
    using A = tc::LanguageModel::Availability;
    switch (state) {
    case A::available: return "instruction-tuned (chat template)";
    case A::baseModel: return "base model (no chat template): answers by quotation";
    default: return "not usable: answers by quotation";
    }
}

} // namespace

int main()
{
    const std::filesystem::path material = std::filesystem::path(TC_BENCH_RESULTS_DIR) / ".." / "assistant" / "qa";
    std::map<std::string, tc::ConversationExcerpt> transcripts;
    for (const char* name : {"meeting", "casual", "lecture", "trip", "garden", "clinic", "school", "incident"})
        transcripts[name] = tc::ConversationExcerpt(readLines(material / (std::string(name) + ".txt")));
    const auto readQuestions = [&](const char* file) {
        std::vector<Question> read;
        for (const auto& item : nlohmann::json::parse(std::ifstream(material / file)))
            read.push_back(Question{item.at("transcript"), item.at("question"), item.at("expected")});
        return read;
    };
    std::vector<Question> questions = readQuestions("questions.json");
    // Written after the ranker's rules, on a conversation of their own, and never used to shape them.
    const std::vector<Question> fresh = readQuestions("questions-fresh.json");
    // Written before the paraphrase levers, on a talk of its own; only its totals are ever read, and only when asked
    // for (TC_BENCH_QA_HELDOUT), so that working on the ranker cannot look at it by accident.
    const std::vector<Question> garden = readQuestions("questions-garden.json");
    // Written before the synonym work, by a helper who had not read the ranker's misses; totals only, like the garden.
    const std::vector<Question> clinic = readQuestions("questions-clinic.json");
    // A school meeting and an incident review, written by a helper who never saw the answerer; totals only.
    const std::vector<Question> heldout2 = readQuestions("questions-heldout2.json");
    const bool scoreGarden = std::getenv("TC_BENCH_QA_HELDOUT") != nullptr;
    const auto tuning = [](std::size_t i) { return i % 2 == 0; };
    const auto heldOut = [](std::size_t i) { return i % 2 == 1; };
    const auto all = [](std::size_t) { return true; };

    // --- Quoting answerer: ranking once, thresholds swept over the tuning half.
    auto tokenizer = std::make_shared<tc::MecabTokenizer>();
    std::string report = "# Question answering\n\n";
    nlohmann::ordered_json json{{"benchmark", "question-answering"}, {"questions", questions.size()}};
    const auto evaluateRanker = [&](const tc::ExtractiveAnswerer& ranker) {
        std::vector<tc::ExtractiveAnswerer::Ranking> rankings;
        for (const auto& q : questions)
            rankings.push_back(ranker.rank(q.text, transcripts.at(q.transcript)));
        const auto citedAt = [&](double threshold) {
            std::vector<Numbers> cited;
            for (const auto& r : rankings)
                cited.push_back(r.confidence >= threshold && !r.lineNumbers.empty() ? r.lineNumbers : Numbers{});
            return cited;
        };
        // Both targets weigh the same: the sum of hit rate and refusal rate, the middle of the best plateau.
        std::vector<double> bestThresholds;
        double bestScore = -1;
        for (int step = 0; step <= 100; ++step) {
            const double threshold = step / 100.0;
            const auto s = score(questions, citedAt(threshold), tuning);
            const double value = s.hitRate() + s.refusalRate();
            if (value > bestScore + 1e-9) {
                bestScore = value;
                bestThresholds.clear();
            }
            if (value > bestScore - 1e-9) bestThresholds.push_back(threshold);
        }
        const double best = bestThresholds[bestThresholds.size() / 2];
        return std::tuple{best, citedAt(best), citedAt(ranker.threshold())};
    };
    const auto citedOn = [&](const tc::ExtractiveAnswerer& ranker, const std::vector<Question>& set) {
        std::vector<Numbers> cited;
        for (const auto& q : set)
            cited.push_back(ranker.citedLines(q.text, transcripts.at(q.transcript)));
        return cited;
    };

    tc::ExtractiveAnswerer shipped(tokenizer);
    const auto [tuned, tunedCited, shippedCited] = evaluateRanker(shipped);
    const auto freshShipped = score(fresh, citedOn(shipped, fresh), all);
    // Each lever switched off alone, at the shipped threshold: what it brings.
    std::vector<std::pair<std::string, tc::ExtractiveAnswerer::Levers>> ablations;
    ablations.emplace_back("without the answer kinds of question words", tc::ExtractiveAnswerer::Levers{});
    ablations.back().second.answerKinds = false;
    ablations.emplace_back("without the previous line's words", tc::ExtractiveAnswerer::Levers{});
    ablations.back().second.previousLine = false;
    ablations.emplace_back("without lighter predicates", tc::ExtractiveAnswerer::Levers{});
    ablations.back().second.lighterPredicates = false;
    ablations.emplace_back("without nouns found inside longer words", tc::ExtractiveAnswerer::Levers{});
    ablations.back().second.spelledInside = false;
    // As the answerer was before the paraphrase work: every word at full weight, the threshold of then.
    tc::ExtractiveAnswerer::Levers beforeLevers;
    beforeLevers.lighterPredicates = false;
    const tc::ExtractiveAnswerer before(tokenizer, 0.58, beforeLevers);
    // The misses of the tuning material and of the trip conversation, for whoever works on the ranker; never the
    // gardening talk's.
    const auto printMisses = [](const std::vector<Question>& set, const std::vector<Numbers>& cited) {
        for (std::size_t i = 0; i < set.size(); ++i) {
            const auto& got = cited[i];
            const auto& want = set[i].expected;
            const bool right = want.empty()
                                   ? got.empty()
                                   : !got.empty() && std::find(want.begin(), want.end(), got.front()) != want.end();
            if (right) continue;
            std::printf("miss %zu [%s] %s expected", i, set[i].transcript.c_str(), set[i].text.c_str());
            for (const auto n : want)
                std::printf(" %lld", static_cast<long long>(n));
            std::printf(" cited");
            for (const auto n : got)
                std::printf(" %lld", static_cast<long long>(n));
            std::printf("\n");
        }
    };
    if (std::getenv("TC_BENCH_QA_MISSES")) {
        printMisses(questions, shippedCited);
        printMisses(fresh, citedOn(shipped, fresh));
    }
    const tc::ExtractiveAnswerer bigramOnly(nullptr);
    const auto [bigramTuned, bigramCited, bigramShippedCited] = evaluateRanker(bigramOnly);
    const tc::ExtractiveAnswerer bigramBefore(nullptr, before.threshold());

    // --- Time per answer: an 80-line excerpt, and the excerpt of a 5,000-line session.
    std::vector<tc::FinalizedLine> pool;
    for (const char* name : {"meeting", "casual", "lecture"})
        for (const auto& line : transcripts.at(name).lines())
            pool.push_back(line);
    const auto eighty = tc::ConversationQuestionContext::excerpt(pool, 80);
    std::vector<tc::FinalizedLine> session;
    while (session.size() < 5000)
        for (const auto& line : pool)
            if (session.size() < 5000) session.push_back(tc::FinalizedLine{tc::Uuid::random(), line.text, 0});
    std::vector<double> eightyMs;
    std::vector<double> longSessionMs;
    for (int round = 0; round < 3; ++round)
        for (const auto& q : questions) {
            auto started = Clock::now();
            shipped.answer(q.text, eighty);
            eightyMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
            started = Clock::now();
            shipped.answer(q.text, tc::ConversationQuestionContext::excerpt(session, 80));
            longSessionMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
        }
    const double meanEighty = std::accumulate(eightyMs.begin(), eightyMs.end(), 0.0) / eightyMs.size();
    const std::string timing = fixed(meanEighty) + " ms mean, " + fixed(tc::bench::percentile(eightyMs, 0.95)) +
                               " ms p95, " + fixed(tc::bench::percentile(eightyMs, 1.0)) + " ms max";

    const auto heldOutShipped = score(questions, shippedCited, heldOut);
    const auto tuningShipped = score(questions, shippedCited, tuning);
    const auto allShipped = score(questions, shippedCited, all);
    report +=
        "Material: `bench/assistant/qa/` — three written transcripts (meeting 48 lines, casual talk 44 lines, "
        "lecture 47 lines) and " +
        std::to_string(questions.size()) + " questions, " + std::to_string(allShipped.unanswerable) +
        " of them not answerable from the conversation. Each question carries the line numbers that answer "
        "it; the excerpt is the whole transcript (under the app's 80-line limit).\n\n"
        "Hit rate: the first cited line is among the expected ones (answerable questions). Precision: cited "
        "lines that are expected, over all cited lines of all questions. Refusals: unanswerable questions "
        "answered with no citation (\"会話に出ていません。\").\n\n"
        "The refusal threshold (share of the question's idf weight found in the deciding line) was tuned, "
        "for the best sum of hit rate and refusal rate, on the even-numbered questions (" +
        std::to_string(tuningShipped.answerable + tuningShipped.unanswerable) +
        ") and is reported on the odd-numbered ones (" +
        std::to_string(heldOutShipped.answerable + heldOutShipped.unanswerable) +
        ") it never saw. To be plain about it: the ranker's rules (stop words, compound nouns, \"how many\" "
        "counters, the line after a question, the kinds of answer question words ask for, the previous "
        "line's topic) were shaped while reading the misses on all these questions, so the held-out half is "
        "not a clean estimate for unseen conversations. Tuned: " +
        fixed(tuned) + "; shipped: " + fixed(shipped.threshold()) +
        ".\n\nThree more conversations carry questions phrased as a listener would ask them, often in other words "
        "than the line's. The trip meeting (`trip.txt`, `questions-fresh.json`: " +
        std::to_string(fresh.size()) + " questions, " + std::to_string(freshShipped.unanswerable) +
        " not answerable) was the development set of the paraphrase work: its misses were read. The gardening talk "
        "(`garden.txt`, `questions-garden.json`: " +
        std::to_string(garden.size()) +
        " questions, 6 not answerable) was written before that work began and held out: only its totals were "
        "read, three times during that work (before it, after it, and once more to add the rows of each rule switched "
        "off), then six times while trying the levers for paraphrased nouns below, and once for the semantic rerank "
        "below. The clinic consultation "
        "(`clinic.txt`, `questions-clinic.json`: " +
        std::to_string(clinic.size()) +
        " questions, 6 not answerable) was written for that later work before any lever was tried, by a helper who "
        "had not read the ranker's misses, and is held out the same way: only its totals were read, seven times (before "
        "the levers, with the synonyms, in one run discarded for an editing slip, with each lever as a row, to write "
        "this file, once more to add the rows by the ranking alone, and once for the semantic rerank below). These two "
        "are the honest estimate for a "
        "conversation the answerer was never tuned on; "
        "they are small (26 and 24 answerable questions), so one question moves a hit rate by about 4 points. Their "
        "totals have been read often enough that a later lever could lean on them, so two more conversations were "
        "written for a clean estimate by a helper who never saw the answerer, its results or the other questions: a "
        "school meeting and an incident review (`school.txt`, `incident.txt`, `questions-heldout2.json`: " +
        std::to_string(heldout2.size()) +
        " questions, 20 not answerable).\n\n"
        "Lighter predicates: the question's verbs and adjectives weigh half as much as its nouns, in the ranking and "
        "in the share that decides refusals, because listeners keep the topic and retell the rest (\"撮りますか\" for "
        "\"撮影してくれます\"). Base forms (原形) were matched before this work already. Before: every word at "
        "full weight, threshold 0.58 for words and bigrams alike.\n\n";
    report += "## Quoting answerer (no model, or a base model)\n\n"
              "| run | hit rate | citation precision | correct refusals | time per answer (80 lines) | model memory |\n"
              "|---|---|---|---|---|---|\n";
    report += row("MeCab BM25, held-out half", heldOutShipped, timing, "none");
    report += row("MeCab BM25, tuning half", tuningShipped, "", "");
    report += row("MeCab BM25, all questions", allShipped, "", "");
    report += row("MeCab BM25, trip conversation (development)", freshShipped, "", "");
    const auto gardenShipped = score(garden, citedOn(shipped, garden), all);
    if (scoreGarden) report += row("MeCab BM25, gardening talk (held out)", gardenShipped, "", "");
    const auto clinicShipped = score(clinic, citedOn(shipped, clinic), all);
    if (scoreGarden) report += row("MeCab BM25, clinic consultation (held out)", clinicShipped, "", "");
    const auto heldout2Shipped = score(heldout2, citedOn(shipped, heldout2), all);
    if (scoreGarden)
        report += row("MeCab BM25, school meeting and incident review (held out, never tuned on)", heldout2Shipped, "",
                      "");
    const auto beforeAll = score(questions, citedOn(before, questions), all);
    const auto beforeFresh = score(fresh, citedOn(before, fresh), all);
    const auto beforeGarden = score(garden, citedOn(before, garden), all);
    report += row("before: MeCab BM25 at 0.58, all words at full weight, all questions", beforeAll, "", "");
    report += row("before, trip conversation", beforeFresh, "", "");
    if (scoreGarden) report += row("before, gardening talk", beforeGarden, "", "");
    const auto beforeClinic = score(clinic, citedOn(before, clinic), all);
    if (scoreGarden) report += row("before, clinic consultation", beforeClinic, "", "");
    // Never refusing: what the ranking alone finds, to tell misses of the ranking from refusals.
    const tc::ExtractiveAnswerer rankingAlone(tokenizer, 0.0);
    report += row("MeCab BM25 by the ranking alone (never refusing), trip conversation",
                  score(fresh, citedOn(rankingAlone, fresh), all), "", "");
    if (scoreGarden) {
        report += row("MeCab BM25 by the ranking alone, gardening talk",
                      score(garden, citedOn(rankingAlone, garden), all), "", "");
        report += row("MeCab BM25 by the ranking alone, clinic consultation",
                      score(clinic, citedOn(rankingAlone, clinic), all), "", "");
        report += row("MeCab BM25 by the ranking alone, school meeting and incident review",
                      score(heldout2, citedOn(rankingAlone, heldout2), all), "", "");
    }
    nlohmann::ordered_json gardenAblations;
    for (const auto& [name, levers] : ablations) {
        const tc::ExtractiveAnswerer ablated(tokenizer, shipped.threshold(), levers);
        report +=
            row("MeCab BM25 " + name + ", all questions", score(questions, citedOn(ablated, questions), all), "", "");
        report += row("MeCab BM25 " + name + ", trip conversation", score(fresh, citedOn(ablated, fresh), all), "", "");
        if (scoreGarden) {
            const auto gardenAblated = score(garden, citedOn(ablated, garden), all);
            report += row("MeCab BM25 " + name + ", gardening talk", gardenAblated, "", "");
            gardenAblations[name] = toJson(gardenAblated);
            report += row("MeCab BM25 " + name + ", clinic consultation", score(clinic, citedOn(ablated, clinic), all),
                          "", "");
        }
    }
    // Totals only, on every set, for a quick look at a change of the ranker.
    if (std::getenv("TC_BENCH_QA_TOTALS")) {
        const auto print = [&](const char* name, const tc::ExtractiveAnswerer& ranker) {
            std::printf("%-28s", name);
            for (const auto* set : std::array<const std::vector<Question>*, 5>{&questions, &fresh, &garden, &clinic, &heldout2}) {
                const auto s = score(*set, citedOn(ranker, *set), all);
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
            print(name.c_str(), tc::ExtractiveAnswerer(tokenizer, step / 100.0));
        }
        for (const auto& [name, levers] : ablations)
            print(name.substr(0, 28).c_str(), tc::ExtractiveAnswerer(tokenizer, shipped.threshold(), levers));
    }
    const auto bigramAll = score(questions, bigramShippedCited, all);
    const auto bigramFresh = score(fresh, citedOn(bigramOnly, fresh), all);
    const auto bigramGarden = score(garden, citedOn(bigramOnly, garden), all);
    report +=
        row("character bigrams (no MeCab) at their own threshold " + fixed(bigramOnly.threshold()) + ", all questions",
            bigramAll, "", "");
    report += row("character bigrams at " + fixed(bigramOnly.threshold()) + ", held-out half",
                  score(questions, bigramShippedCited, heldOut), "", "");
    report += row("character bigrams at " + fixed(bigramOnly.threshold()) + ", trip conversation", bigramFresh, "", "");
    if (scoreGarden)
        report +=
            row("character bigrams at " + fixed(bigramOnly.threshold()) + ", gardening talk", bigramGarden, "", "");
    report += row("before: character bigrams at the shared " + fixed(bigramBefore.threshold()) + ", all questions",
                  score(questions, citedOn(bigramBefore, questions), all), "", "");
    report += row("before: character bigrams at the shared " + fixed(bigramBefore.threshold()) + ", trip conversation",
                  score(fresh, citedOn(bigramBefore, fresh), all), "", "");
    report +=
        row("character bigrams at the threshold the tuning half alone picks, " + fixed(bigramTuned) + ", held-out half",
            score(questions, bigramCited, heldOut), "", "");
    report +=
        "\nA 5,000-line session (only its last 80 lines are read): " +
        fixed(std::accumulate(longSessionMs.begin(), longSessionMs.end(), 0.0) / longSessionMs.size()) + " ms mean, " +
        fixed(tc::bench::percentile(longSessionMs, 0.95)) +
        " ms p95 per answer, excerpt included.\n\nTargets: hit rate ≥ 85 %, correct refusals ≥ 80 %, ≤ 50 ms "
        "per answer over 80 lines.\n\n"
        "Without MeCab (or its dictionary) the answerer falls back to character bigrams with a threshold of their "
        "own, 0.28: the lowest at which refusals stay at 80 % or more on both the 80 questions and the trip "
        "meeting. The tuning half alone picks 0.18, which refuses 10 of 13 and 3 of 6.\n\n"
        "Tried on the 80 questions and the trip meeting and left out, because at the tuned threshold neither "
        "changed a total (measured with a throw-away harness, not by this benchmark):\n"
        "- shared kanji as a soft match (a verb or adjective meeting a word of its kanji, \"撮る\"/\"撮影\", "
        "\"集合\"/\"集まる\", counting half times the kanji overlap): 64/67 and 11/13, 16/22 and 6/6 with or "
        "without it at 0.52; by the ranking alone (no threshold) 65 vs 64 of 67 but 18 vs 19 of 22. Between "
        "nouns (\"名前\"/\"前\") it mostly added noise;\n"
        "- nouns that name the kind of answer (場所, 時刻, 料金, 人数, 名前) counting like question words: one more "
        "hit on the trip meeting, at 0.46 only, none at 0.52.\n"
        "- A semantic rerank with the installed GGUF (gemma-3-270m, mean-pooled embeddings through llama.cpp, 2 "
        "threads, load average about 8): embedding 44 lines took 104 s wall, about 0.35 s of CPU per line. By "
        "embeddings alone the first line was right for 15 of 22 trip questions (the quoting ranker: 16) and "
        "15 of 24 meeting questions; the expected line was among the top five for 20 of 22. Too slow to run "
        "per line as a transcript grows, so not wired in.\n\n"
        "Tried for paraphrased nouns and left out: each lever alone on top of the shipped rules, at 0.52, measured "
        "with "
        "this benchmark on all sets (hit rate, citation precision, correct refusals; held-out sets by their totals "
        "only). The code is in the commit \"Try synonyms, readings, unsaid compounds and shared kanji as switchable "
        "levers of the quoting answerer\". A lever was to be kept only if the held-out sets improved and the 80 "
        "questions stayed at hit rate ≥ 85 % and refusals ≥ 80 %; none did.\n\n"
        "| lever | 80 questions | trip (development) | gardening talk (held out) | clinic (held out) |\n"
        "|---|---|---|---|---|\n"
        "| none (as shipped) | 64/67, 65/88, 11/13 | 16/22, 18/24, 6/6 | 9/26, 9/12, 6/6 | 2/24, 2/9, 6/6 |\n"
        "| synonyms | 64/67, 65/88, 11/13 | 16/22, 18/24, 6/6 | 9/26, 9/12, 6/6 | 2/24, 3/11, 6/6 |\n"
        "| same reading, other spelling | 64/67, 65/88, 11/13 | 16/22, 18/24, 6/6 | 9/26, 9/12, 6/6 | 2/24, 3/11, 6/6 "
        "|\n"
        "| compounds no line says weigh nothing | 64/67, 65/89, 10/13 | 17/22, 19/25, 6/6 | 10/26, 11/15, 5/6 | 3/24, "
        "4/12, 6/6 |\n"
        "| kanji shared between nouns | 62/67, 63/86, 11/13 | 17/22, 19/25, 6/6 | 9/26, 9/11, 6/6 | 2/24, 3/12, 6/6 "
        "|\n\n"
        "(The rows after synonyms were measured with the synonyms on, which is why their clinic precision starts from "
        "3/11.)\n"
        "- Synonyms: Sudachi's synonym dictionary (npm package `sudachi-synonyms-dictionary` 18.0.0, Apache-2.0, "
        "26,036 groups; `chikkarpy` on PyPI only downloads it at build time, which cannot work here), rewritten at "
        "set-up into a tab-separated file in the data folder. A noun of the question that a line leaves out counted "
        "half when the line had a synonym of it, its idf taken over the lines saying it in any of its words; the "
        "dictionary's \"not a trigger\" words widened nothing. On the 80 questions and the trip meeting it fired "
        "for two nouns only (睡眠 and 眠り, in the lecture); letting the \"not a trigger\" words widen too added one "
        "(試験). On the held-out sets it added two cited lines on the clinic, one right and one "
        "wrong, and moved no hit or refusal. The dictionary lists written vocabulary, and the words listeners swap in "
        "speech are seldom in "
        "it.\n"
        "- Same reading, other spelling (MeCab's reading of nouns, three kana or more, half weight): changed nothing "
        "anywhere. In the kana spellings looked at, MeCab cuts other words (\"おべんとう\" into お/べ/ん/とう) or "
        "takes "
        "a verb (\"しめきり\"), so the readings never meet.\n"
        "- Compounds no line says (\"集合場所\") weighing nothing, their parts still counting: one more hit on the "
        "trip and on each held-out set, but the 80 questions then answer one unanswerable question more (10/13, "
        "76.9 %): \"新しいアプリの対応OS\" finds \"新しいアプリ\". A compound nobody said is what tells such a "
        "question apart. At half weight it changed nothing on the 80 questions and the trip (held-out sets not "
        "read).\n"
        "- Kanji shared between nouns (\"薬屋\"/\"薬局\"; half weight times the share of the question noun's kanji "
        "found in a noun of the line): one more hit on the trip, two fewer on the 80 questions, no held-out hit.\n\n"
        "What the clinic says: asked in a listener's words, the quoting answerer refuses most answerable questions: "
        "it cites 9 lines over its 30 questions, so at least 15 of the 24 answerable ones get none. By the ranking "
        "alone (never refusing) the first line is right for 10 of 24 there and 13 of 26 in the gardening talk: the "
        "threshold costs 8 and 4 hits, and the ranking misses the rest. The gap is one of meaning, not of spelling: no "
        "lexical resource reachable from the "
        "package registries here closes it, and a semantic rerank with the installed model does not close it either "
        "(below).\n\n"
        "Tried at question time and left out: a semantic rerank with the installed base model (gemma-3-270m-Q"
        "4_K_M through llama.cpp, 2 threads), on the lexical ranking's best eight lines only, all in one pass"
        " side by side. Mean-pooled embeddings (the start token left out) put every candidate at a cosine of "
        "0.93 to 0.99 from the question, too flat to rank or to refuse by. What the model does tell is how mu"
        "ch a line makes the question likelier: the log-probability of the question after \"会話の発言：「line」 / この発"
        "言についての質問：\", less the same after an empty line, per character of the question (the gain). The line qu"
        "oted is the best by reciprocal-rank fusion of the lexical and the gain's ranks (k = 60), or the lexi"
        "cal best alone; it is quoted when its lexical share reaches 0.52 as today, or else when its gain rea"
        "ches a threshold tuned on the even half of the 80 questions. That half never needs the gain (the lex"
        "ical share already answers it best), so its best plateau is wide, 0.96 to 1.49: its middle, 1.23, wa"
        "s the rule set beforehand, its lower edge a row of its own. Measured with a throw-away harness repla"
        "ying the ranker's choices (it reproduces the rows above); the held-out totals were read once, for al"
        "l rows at once.\n"
        "\n"
        "| run (hit rate, citation precision, correct refusals) | 80 questions | trip (development) | gardeni"
        "ng talk (held out) | clinic (held out) |\n"
        "|---|---|---|---|---|\n"
        "| as shipped | 64/67, 65/88, 11/13 | 16/22, 18/24, 6/6 | 9/26, 9/12, 6/6 | 2/24, 2/9, 6/6 |\n"
        "| lexical line, also quoted at a gain ≥ 1.23 | 64/67, 65/88, 11/13 | 17/22, 19/25, 6/6 | 9/26, 9/13,"
        " 5/6 | 2/24, 2/11, 6/6 |\n"
        "| fused line, gain ≥ 1.23 | 63/67, 64/88, 11/13 | 17/22, 19/25, 6/6 | 10/26, 10/14, 5/6 | 2/24, 2/10"
        ", 6/6 |\n"
        "| lexical line, gain ≥ 0.96 | 64/67, 65/89, 11/13 | 18/22, 20/26, 6/6 | 9/26, 9/14, 4/6 | 3/24, 3/14"
        ", 6/6 |\n"
        "| fused line, gain ≥ 0.96 | 63/67, 64/89, 11/13 | 19/22, 21/27, 6/6 | 11/26, 11/16, 4/6 | 3/24, 3/13"
        ", 6/6 |\n"
        "| lexical ranking alone (never refusing) | 64/67, 65/101, 4/13 | 19/22, 21/39, 0/6 | 13/26, 15/43, 0"
        "/6 | 10/24, 11/39, 4/6 |\n"
        "| fused ranking alone (never refusing) | 63/67, 64/100, 4/13 | 20/22, 22/39, 0/6 | 15/26, 16/35, 0/6"
        " | 11/24, 12/38, 4/6 |\n"
        "\n"
        "The gain ranks a little better (two and one more first lines right on the held-out sets by the ranki"
        "ng alone, one fewer on the 80 questions), but it does not tell the held-out answerable questions fro"
        "m the unanswerable ones: at the rule's threshold their hits move by 0 and 1 and the gardening talk l"
        "oses a refusal; even at the plateau's edge, by 2 and 1 for two refusals lost. It was to be kept only"
        " for more than one question more on each held-out set. Time per question with the model warm, eight "
        "lines and the empty one: 0.99 s mean, 3.27 s max at a load average of 5.1 to 5.8 (trip, 28 questions"
        "); 4.07 s mean, 14.9 s max at 6.8 (held-out sets); the deciding line and the empty one alone: 0.55 s"
        " mean, 1.82 s max. The model's load on the first question: 1.1 to 3.8 s. Process peak: 598 MiB with "
        "eight lines, 431 MiB with one (the pass keeps the whole vocabulary's logits for every question token"
        "); the quoting answerer needs no model.\n"
        "\n";
    json["threshold"] = {{"tuned", tuned}, {"shipped", shipped.threshold()}};
    if (scoreGarden) {
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
        {"msPerAnswer80LinesP95", tc::bench::percentile(eightyMs, 0.95)},
        {"msPerAnswer5000LineSessionP95", tc::bench::percentile(longSessionMs, 0.95)}};

    // --- A yes/no check on the instruction-tuned model where the quotes refuse (TC_BENCH_QA_GATE=<model file>):
    // one record per question into question-answering-gate.json, whose rows are worked out from the records;
    // the held-out sets' records stay unread but for totals. Nothing else runs, question-answering.md is kept.
    if (const char* gateModel = std::getenv("TC_BENCH_QA_GATE"); gateModel && *gateModel) {
        auto options = tc::LlamaLanguageModel::optionsFor(gateModel);
        options.threads = 2;
        auto model = std::make_shared<tc::LlamaLanguageModel>(options);
        auto extractive = std::make_shared<tc::ExtractiveAnswerer>(tokenizer);
        tc::FoundationModelsConversationResponder picking(
            model, extractive, tc::FoundationModelsConversationResponder::ModelUse::shortlistWhenQuotesRefuse);
        const std::string system =
            "会話の発言が質問の答えになっているかを判断し、「はい」か「いいえ」だけで答えてください。";
        const bool withContext = std::getenv("TC_BENCH_QA_GATE_CONTEXT") != nullptr;
        const auto yesFor = [&](const std::string& question, const tc::ConversationExcerpt& excerpt, std::int64_t line,
                                double& seconds) {
            const auto started = Clock::now();
            // Speakers drop the topic just named, so the line before may be shown too (TC_BENCH_QA_GATE_CONTEXT).
            const std::string lineBefore =
                withContext && line > 1
                    ? "直前の発言: " + excerpt.lines()[static_cast<std::size_t>(line - 2)].text + "\n"
                    : "";
            const auto p = model->probabilityOfYes(system,
                                                   "質問: " + question + "\n" + lineBefore + "発言: " +
                                                       excerpt.lines()[static_cast<std::size_t>(line - 1)].text +
                                                       "\n\nこの発言は、この質問の答えを含んでいますか？",
                                                   "はい", "いいえ", {});
            seconds = std::chrono::duration<double>(Clock::now() - started).count();
            return p;
        };
        nlohmann::ordered_json records = nlohmann::json::array();
        const std::vector<std::pair<std::string, const std::vector<Question>*>> sets{
            {"80", &questions}, {"trip", &fresh}, {"garden", &garden}, {"clinic", &clinic}, {"heldout2", &heldout2}};
        for (const auto& [setName, set] : sets) {
            const bool development = set == &questions || set == &fresh;
            for (std::size_t i = 0; i < set->size(); ++i) {
                const auto& q = (*set)[i];
                const auto& excerpt = transcripts.at(q.transcript);
                const auto ranking = extractive->rank(q.text, excerpt);
                nlohmann::ordered_json record{{"set", setName},
                                              {"index", i},
                                              {"expected", q.expected},
                                              {"quotes", extractive->citedLines(q.text, excerpt)},
                                              {"ranking", ranking.lineNumbers},
                                              {"confidence", ranking.confidence}};
                const bool refused = ranking.lineNumbers.empty() || ranking.confidence < extractive->threshold();
                record["refused"] = refused;
                if (refused && !ranking.shortlist.empty()) {
                    auto started = Clock::now();
                    Numbers picked;
                    try {
                        picked = numbersOf(picking.answer(q.text, excerpt), excerpt);
                    } catch (const std::exception&) {
                    }
                    record["model"] = picked;
                    record["secondsModel"] = std::chrono::duration<double>(Clock::now() - started).count();
                    const auto best =
                        ranking.lineNumbers.empty() ? ranking.shortlist.front() : ranking.lineNumbers.front();
                    double seconds = 0;
                    record["best"] = best;
                    record["yesBest"] = yesFor(q.text, excerpt, best, seconds);
                    record["secondsGateBest"] = seconds;
                    if (!picked.empty() && picked.front() != best) {
                        record["yesModel"] = yesFor(q.text, excerpt, picked.front(), seconds);
                        record["secondsGateModel"] = seconds;
                    } else if (!picked.empty()) {
                        record["yesModel"] = record["yesBest"];
                        record["secondsGateModel"] = 0.0;
                    }
                    if (development)
                        std::printf("[%s %zu] %s exp=%s best=%lld p=%.3f model=%s\n", setName.c_str(), i,
                                    q.text.c_str(), nlohmann::json(q.expected).dump().c_str(),
                                    static_cast<long long>(best), record["yesBest"].get<double>(),
                                    record["model"].dump().c_str());
                    std::fflush(stdout);
                }
                records.push_back(record);
            }
            std::ofstream(std::filesystem::path(TC_BENCH_RESULTS_DIR) /
                          (withContext ? "question-answering-gate-context.json" : "question-answering-gate.json"))
                << nlohmann::ordered_json{{"model", std::filesystem::path(gateModel).filename().string()},
                                          {"threads", 2},
                                          {"loadAverageAtEnd", tc::bench::loadAverage()},
                                          {"records", records}}
                       .dump(1)
                << '\n';
        }
        return 0;
    }

    // --- Installed language models, as the responder uses them.
    std::set<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(tc::LlamaLanguageModel::modelsFolder(), error))
        if (entry.path().extension() == ".gguf") files.insert(entry.path());
    if (const char* chosen = std::getenv("TC_LANGUAGE_MODEL"); chosen && *chosen) files.insert(chosen);
    const int forced =
        std::getenv("TC_BENCH_FORCED_QUESTIONS") ? std::atoi(std::getenv("TC_BENCH_FORCED_QUESTIONS")) : 10;
    report +=
        "## Installed language models, as the app uses them\n\n"
        "| model | kind | hit rate | citation precision | correct refusals | time per answer | model peak memory |\n"
        "|---|---|---|---|---|---|---|\n";
    std::string forcedReport;
    std::string variantReport;
    json["models"] = nlohmann::json::array();
    for (const auto& file : files) {
        auto options = tc::LlamaLanguageModel::optionsFor(file);
        options.threads = 2;
        auto model = std::make_shared<tc::LlamaLanguageModel>(options);
        const auto kind = model->availability();
        const double memoryBefore = tc::bench::peakMemoryMiB();
        const auto run = [&](tc::FoundationModelsConversationResponder& responder, std::size_t count) {
            std::vector<Numbers> cited;
            std::vector<double> seconds;
            for (std::size_t i = 0; i < questions.size(); ++i) {
                if (i >= count) {
                    cited.push_back({});
                    continue;
                }
                const auto& excerpt = transcripts.at(questions[i].transcript);
                const auto started = Clock::now();
                try {
                    cited.push_back(numbersOf(responder.answer(questions[i].text, excerpt), excerpt));
                } catch (const std::exception&) {
                    cited.push_back({});
                }
                seconds.push_back(std::chrono::duration<double>(Clock::now() - started).count());
            }
            return std::pair{cited, seconds};
        };
        tc::FoundationModelsConversationResponder responder(model, std::make_shared<tc::ExtractiveAnswerer>(tokenizer));
        // An instruction-tuned model's runs, one per way of using it, are the table below this one.
        const bool instructionTuned = kind == tc::LanguageModel::Availability::available;
        const auto [cited, seconds] = run(responder, instructionTuned ? 1 : questions.size());
        const auto s = score(questions, cited, all);
        const double memory = tc::bench::peakMemoryMiB() - memoryBefore;
        const std::string time = fixed(std::accumulate(seconds.begin(), seconds.end(), 0.0) / seconds.size() * 1000) +
                                 " ms mean, " + fixed(tc::bench::percentile(seconds, 1.0) * 1000) + " ms max";
        if (instructionTuned)
            report +=
                "| " + file.filename().string() + " | " + kindName(kind) +
                " | below, by what it is shown | | | first question, the load included: " + fixed(seconds.front(), 1) +
                " s | " + fixed(memory, 0) + " MiB |\n";
        else
            report += "| " + file.filename().string() + " | " + kindName(kind) + " | " + percent(s.hitRate()) + " | " +
                      percent(s.precision()) + " | " + percent(s.refusalRate()) + " | " + time + " | " +
                      (model->isLoaded() ? fixed(memory, 0) + " MiB" : "not loaded") + " |\n";
        nlohmann::ordered_json entry{{"model", file.filename().string()},
                                     {"kind", kindName(kind)},
                                     {"all", toJson(s)},
                                     {"peakMemoryDeltaMiB", memory}};

        if (kind == tc::LanguageModel::Availability::available) {
            using Use = tc::FoundationModelsConversationResponder::ModelUse;
            const std::vector<std::pair<Use, std::string>> uses{
                {Use::wholeExcerpt, "whole excerpt"},
                {Use::shortlist, "quoting ranker's 8 best lines"},
                {Use::shortlistWhenQuotesRefuse, "8 best lines, only when the quotes refuse"},
                {Use::wordingTheQuotes, "the quotes' lines, the model wording the answer (shipped)"}};
            const char* chosenUses = std::getenv("TC_BENCH_QA_MODEL_USES");
            std::vector<std::pair<std::string, const std::vector<Question>*>> sets{{"80 questions", &questions},
                                                                                   {"trip (development)", &fresh}};
            if (scoreGarden) {
                sets.emplace_back("gardening talk (held out)", &garden);
                sets.emplace_back("clinic (held out)", &clinic);
            }
            // A fixed subset (every k-th question) keeps a slow model's run within reach: TC_BENCH_QA_EVERY_<use>
            // is "k" for every set or "k,m": k for the 80 questions, m for the others.
            const auto everyFor = [&](Use use, bool ofTheEighty) {
                const char* value = std::getenv(("TC_BENCH_QA_EVERY_" + std::to_string(static_cast<int>(use))).c_str());
                if (!value) return std::size_t{1};
                const std::string text = value;
                const auto comma = text.find(',');
                const int k = std::atoi(text.c_str());
                const int m = comma == std::string::npos ? k : std::atoi(text.c_str() + comma + 1);
                return static_cast<std::size_t>(std::max(1, ofTheEighty ? k : m));
            };
            for (const auto& [use, useName] : uses) {
                if (chosenUses &&
                    std::string(chosenUses).find(std::to_string(static_cast<int>(use))) == std::string::npos)
                    continue;
                for (const auto& [setName, set] : sets) {
                    const std::size_t every = everyFor(use, set == &questions);
                    auto counting = std::make_shared<CountingModel>(model);
                    tc::FoundationModelsConversationResponder variant(
                        counting, std::make_shared<tc::ExtractiveAnswerer>(tokenizer), use);
                    std::vector<Numbers> variantCited;
                    std::vector<double> variantSeconds;
                    std::size_t asked = 0;
                    for (std::size_t i = 0; i < set->size(); ++i) {
                        const bool included = i % every == 0;
                        if (!included) {
                            variantCited.push_back({});
                            continue;
                        }
                        ++asked;
                        const auto& q = (*set)[i];
                        const auto& excerpt = transcripts.at(q.transcript);
                        const auto started = Clock::now();
                        const int askedBefore = counting->asked;
                        try {
                            const auto answer = variant.answer(q.text, excerpt);
                            variantCited.push_back(numbersOf(answer, excerpt));
                            // The held-out sets' answers stay unread.
                            if (set == &questions || set == &fresh)
                                std::printf("[%s] %s -> %s\n", useName.c_str(), q.text.c_str(), answer.text.c_str());
                        } catch (const std::exception&) {
                            variantCited.push_back({});
                        }
                        if (counting->asked > askedBefore)
                            variantSeconds.push_back(std::chrono::duration<double>(Clock::now() - started).count());
                    }
                    const auto vs = score(*set, variantCited, [&](std::size_t i) { return i % every == 0; });
                    const std::string name =
                        useName + ", " + setName +
                        (every > 1 ? " (one question in " + std::to_string(every) + ": " + std::to_string(asked) + ")"
                                   : "");
                    const std::string variantTime =
                        variantSeconds.empty()
                            ? "model not asked"
                            : fixed(std::accumulate(variantSeconds.begin(), variantSeconds.end(), 0.0) /
                                        variantSeconds.size(),
                                    1) +
                                  " s mean, " + fixed(tc::bench::percentile(variantSeconds, 1.0), 1) + " s max";
                    variantReport += row(name, vs, variantTime,
                                         std::to_string(counting->asked) + " asked, " + std::to_string(counting->cut) +
                                             " cut, " + std::to_string(counting->timedOut) + " timed out, " +
                                             std::to_string(counting->failed) + " failed");
                    entry["uses"].push_back({{"use", useName},
                                             {"set", setName},
                                             {"scores", toJson(vs)},
                                             {"asked", counting->asked},
                                             {"cut", counting->cut},
                                             {"timedOut", counting->timedOut}});
                    std::fflush(stdout);
                }
            }
            entry["peakMemoryAfterUsesMiB"] = tc::bench::peakMemoryMiB() - memoryBefore;
            variantReport +=
                "\nModel peak memory over these runs: " + fixed(tc::bench::peakMemoryMiB() - memoryBefore, 0) +
                " MiB (" + file.filename().string() + ").\n";
        }

        if (kind == tc::LanguageModel::Availability::baseModel && forced > 0) {
            // What the base model itself would answer: spread over the three transcripts.
            std::vector<Question> sample;
            std::vector<Question> rest;
            for (std::size_t i = 0; i < questions.size(); ++i)
                (i % (questions.size() / static_cast<std::size_t>(forced)) == 0 ? sample : rest)
                    .push_back(questions[i]);
            sample.resize(std::min<std::size_t>(sample.size(), static_cast<std::size_t>(forced)));
            auto forcedModel = std::make_shared<ForcedChatModel>(model);
            tc::FoundationModelsConversationResponder forcedResponder(
                forcedModel, std::make_shared<tc::ExtractiveAnswerer>(tokenizer));
            const double forcedMemoryBefore = tc::bench::peakMemoryMiB();
            std::vector<Numbers> forcedCited;
            std::vector<double> forcedSeconds;
            int refusedText = 0;
            for (const auto& q : sample) {
                const auto& excerpt = transcripts.at(q.transcript);
                const auto started = Clock::now();
                try {
                    const auto answer = forcedResponder.answer(q.text, excerpt);
                    forcedCited.push_back(numbersOf(answer, excerpt));
                    if (answer.text.find("出ていません") != std::string::npos) ++refusedText;
                    std::printf("[%s] %s -> %s\n", file.filename().c_str(), q.text.c_str(), answer.text.c_str());
                } catch (const std::exception& e) {
                    forcedCited.push_back({});
                }
                forcedSeconds.push_back(std::chrono::duration<double>(Clock::now() - started).count());
            }
            const auto fs = score(sample, forcedCited, all);
            forcedReport +=
                "| " + file.filename().string() + " made to generate (" + std::to_string(sample.size()) +
                " questions) | " + percent(fs.hitRate()) + " | " + percent(fs.precision()) + " | " +
                percent(fs.refusalRate()) + " | " +
                fixed(std::accumulate(forcedSeconds.begin(), forcedSeconds.end(), 0.0) / forcedSeconds.size(), 1) +
                " s mean, " + fixed(tc::bench::percentile(forcedSeconds, 1.0), 1) + " s max | " +
                fixed(std::max(tc::bench::peakMemoryMiB() - memoryBefore,
                               tc::bench::peakMemoryMiB() - forcedMemoryBefore),
                      0) +
                " MiB |\n";
            entry["forcedGeneration"] = {{"questions", sample.size()}, {"scores", toJson(fs)}};
        }
        json["models"].push_back(entry);
    }
    if (files.empty()) report += "| (none installed) | | | | | | |\n";
    if (!variantReport.empty()) {
        report += "\nAn instruction-tuned model, by what it is shown (time per answer counts the questions the model "
                  "was asked; the last column says how its replies ended):\n\n"
                  "| run | hit rate | citation precision | correct refusals | time per answer | model replies |\n"
                  "|---|---|---|---|---|---|\n" +
                  variantReport;
        // What the runs of the instruction-tuned model in the catalogue said when the shipped use was chosen.
        report += "\nThe first twelve rows come from one run (load average 2.3 at its end, model peak 1,509 MiB), the "
                  "shipped row"
                  "s from a second (3.7, 1,761 MiB); the held-out totals were read once in each, for all their rows at "
                  "once. Ever"
                  "y run is the app's: the chat template of the GGUF, the reply under the JSON-schema grammar, 384 "
                  "tokens and 30 "
                  "s at most.\n\nWhat they say. Shown every line (the way the app asked a model before), the 1.5B "
                  "model often wri"
                  "tes the right answer in words (\"四月十日\", \"山梨の本栖湖\", \"二十人\") but names the wrong line "
                  "numbers: 1 of 7 first c"
                  "itations right on its subset of the 80 questions, none of 3 on the trip; and reading some 1,500 "
                  "tokens costs 1"
                  "5 to 25 s an answer here. Shown only the quoting ranker's eight best lines, under their numbers in "
                  "the convers"
                  "ation and with a grammar that allows no other number, it cites better (13 of 16) but hardly ever "
                  "refuses: 0 of"
                  " 4, 0 of 3, 0 of 3 and 2 of 3 unanswerable questions. Asked only where the quotes refuse, it raises "
                  "the hits o"
                  "n every set (trip 16 → 19 of 22, gardening talk 9 → 15 of 26, clinic 2 → 11 of 24) by answering "
                  "almost everyth"
                  "ing: correct refusals fall from 11 to 1 of 13 on the 80 questions and from 6 to 0 of 6 in the "
                  "gardening talk. "
                  "That is the trade of the ranking alone without a threshold (19, 13 and 10 hits, 0, 0 and 4 "
                  "refusals), a little"
                  " better on hits, and no better at telling what was never said. The rule is never to answer worse "
                  "than the quot"
                  "es, so the app ships the last row: the quotes choose the lines and the refusals, the model is shown "
                  "only those"
                  " lines and words the answer (\"平日の朝九時から夕方六時までです。\" for the quote of the line). "
                  "Hits, precision and refusals ar"
                  "e the quotes' by construction; on the 80 questions and the trip it never doubted a line it was "
                  "shown. Cost: 3 "
                  "to 6 s an answer on average, 30 s at most (one reply of the 100 was cut there), and 1.5 to 1.8 GB "
                  "of memory on"
                  "ce loaded; the first question adds the load, 3 s with the file in the page cache, 13.6 s in the "
                  "first run.\n";
    }
    if (!forcedReport.empty()) {
        report += "\nFor reference, a base model made to write the answers itself (the app never does this; the "
                  "citations still fall back to the quoting ranker when the model names none; answers cut by the token "
                  "or time limit end in \"…\", and a reply with nothing readable falls back to the quotes). It "
                  "echoes the prompt or the schema, which is why base models are never asked:\n\n"
                  "| run | hit rate | citation precision | correct refusals | time per answer | model peak memory |\n"
                  "|---|---|---|---|---|---|\n" +
                  forcedReport;
    }
    report += "\nConditions: 2 threads for llama.cpp; one-minute load average at the end " +
              fixed(tc::bench::loadAverage()) + " (the machine is shared with other builds).\n";
    json["loadAverageAtEnd"] = tc::bench::loadAverage();

    const auto folder = std::filesystem::path(TC_BENCH_RESULTS_DIR);
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "question-answering.md") << report;
    std::ofstream(folder / "question-answering.json") << json.dump(2) << '\n';
    std::printf("%s", report.c_str());
    return 0;
}
