// Question answering over written transcripts with the lines that answer each question: citation hit rate,
// citation precision, correct refusals, time per answer and model memory, for the quoting answerer and for every
// installed language model. Writes only question-answering-runs.md (its tables) and question-answering-runs.json
// into the results folder, replacing both; docs/question-answering.md and .json are the hand-kept record.
//
// Switches (environment):
//   TC_BENCH_QA_HELDOUT          score the held-out sets too (gardening talk, clinic, school and incident); their
//                                totals are read sparingly, so they are left out unless asked for.
//   TC_BENCH_QA_TOTALS           print every set's totals for the shipped ranker, the ranking alone, a sweep of
//                                thresholds and each lever switched off (held-out sets included).
//   TC_BENCH_QA_MISSES           print the misses of the 80 questions and the trip meeting.
//   TC_BENCH_FORCED_QUESTIONS    questions a base model is made to generate for (default 10; 0 skips it).
//   TC_BENCH_QA_MODEL_USES       the ModelUse numbers to run an instruction-tuned model by (default all four).
//   TC_BENCH_QA_EVERY_<use>      "k" or "k,m": ask that use one question in k of the 80 and one in m of the others.
//   TC_LANGUAGE_MODEL            a model file to run besides those of the models folder.
//   TC_BENCH_QA_GATE=<model>     only record the yes/no check on that model (question-answering-gate.json) and
//                                stop; TC_BENCH_QA_GATE_CONTEXT shows the check the line before as well.
#include "BenchMeasures.h"
#include "InstalledModelRuns.h"
#include "QuestionAnsweringReport.h"
#include "QuestionSets.h"
#include "QuotingAnswererRuns.h"
#include "YesNoCheckRecords.h"

#include "TranscriptionInfrastructure/assistant/MecabTokenizer.h"

#include <cstdio>
#include <cstdlib>

int main()
{
    using namespace tc::bench;
    const std::filesystem::path folder(TC_BENCH_RESULTS_DIR);
    const auto sets = readQuestionSets(folder / ".." / "assistant" / "qa");
    const bool scoreHeldOut = std::getenv("TC_BENCH_QA_HELDOUT") != nullptr;
    auto tokenizer = std::make_shared<tc::MecabTokenizer>();

    const auto quoting = runQuotingAnswerer(sets, tokenizer, scoreHeldOut);
    // The yes/no check runs on its own: no model table, and the runs file is kept.
    if (const char* gateModel = std::getenv("TC_BENCH_QA_GATE"); gateModel && *gateModel) {
        recordYesNoCheck(sets, tokenizer, gateModel, folder);
        return 0;
    }

    const auto files = installedModelFiles();
    const int forced =
        std::getenv("TC_BENCH_FORCED_QUESTIONS") ? std::atoi(std::getenv("TC_BENCH_FORCED_QUESTIONS")) : 10;
    auto models = runInstalledModels(sets, tokenizer, files, scoreHeldOut, forced);

    nlohmann::ordered_json json{{"benchmark", "question-answering"}, {"questions", sets.questions.size()}};
    for (const auto& item : quoting.json.items())
        json[item.key()] = item.value();
    json["models"] = std::move(models.models);
    json["loadAverageAtEnd"] = loadAverage();

    std::string names;
    for (const auto& file : files)
        names += (names.empty() ? "" : ", ") + file.filename().string();
    const std::string report =
        "# Question answering: measured runs\n\nWritten whole by `QuestionAnsweringBench` on every run, with "
        "`question-answering-runs.json`; what the figures mean and what was concluded from them is in "
        "[docs/question-answering.md](../../docs/question-answering.md).\n\n"
        "This run: held-out sets " +
        std::string(scoreHeldOut ? "scored" : "not scored (TC_BENCH_QA_HELDOUT unset)") +
        "; base model made to generate on " + std::to_string(forced) +
        " questions (TC_BENCH_FORCED_QUESTIONS); language models: " + (names.empty() ? "none" : names) + ".\n\n" +
        quoting.markdown + models.markdown +
        "\nConditions: 2 threads for llama.cpp; one-minute load average at the end " + fixed(loadAverage()) +
        " (the machine is shared with other builds).\n";
    writeRuns(folder, report, json);
    std::printf("%s", report.c_str());
    return 0;
}
