#include "InstalledModelRuns.h"

#include "BenchMeasures.h"
#include "CitationScores.h"
#include "CountingModel.h"
#include "ForcedChatModel.h"
#include "QuestionAnsweringReport.h"

#include "TranscriptionInfrastructure/assistant/ExtractiveAnswerer.h"
#include "TranscriptionInfrastructure/assistant/FoundationModelsConversationResponder.h"
#include "TranscriptionInfrastructure/assistant/LlamaLanguageModel.h"
#include "TranscriptionInfrastructure/assistant/MecabTokenizer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace tc::bench {

namespace {

using Clock = std::chrono::steady_clock;
using Responder = FoundationModelsConversationResponder;
using Use = Responder::ModelUse;

const char* kindName(LanguageModel::Availability state)
{
    using A = LanguageModel::Availability;
    switch (state) {
    case A::available: return "instruction-tuned (chat template)";
    case A::baseModel: return "base model (no chat template): answers by quotation";
    default: return "not usable: answers by quotation";
    }
}

double secondsSince(Clock::time_point started)
{
    return std::chrono::duration<double>(Clock::now() - started).count();
}

// One question in k: "k" for every set, or "k,m": k for the 80 questions, m for the others.
std::size_t everyFor(Use use, bool ofTheEighty)
{
    const char* value = std::getenv(("TC_BENCH_QA_EVERY_" + std::to_string(static_cast<int>(use))).c_str());
    if (!value) return 1;
    const std::string text = value;
    const auto comma = text.find(',');
    const int k = std::atoi(text.c_str());
    const int m = comma == std::string::npos ? k : std::atoi(text.c_str() + comma + 1);
    return static_cast<std::size_t>(std::max(1, ofTheEighty ? k : m));
}

// The instruction-tuned model's rows, one per way of using it and set; fills the entry's "uses".
std::string runUses(const std::shared_ptr<LanguageModel>& model, const QuestionSets& sets,
                    const std::shared_ptr<MecabTokenizer>& tokenizer, bool scoreHeldOut, nlohmann::ordered_json& entry)
{
    const std::vector<std::pair<Use, std::string>> uses{
        {Use::wholeExcerpt, "whole excerpt"},
        {Use::shortlist, "quoting ranker's 8 best lines"},
        {Use::shortlistWhenQuotesRefuse, "8 best lines, only when the quotes refuse"},
        {Use::wordingTheQuotes, "the quotes' lines, the model wording the answer"}};
    const char* chosenUses = std::getenv("TC_BENCH_QA_MODEL_USES");
    std::vector<std::pair<std::string, const std::vector<Question>*>> named{{"80 questions", &sets.questions},
                                                                            {"trip (development)", &sets.fresh}};
    if (scoreHeldOut) {
        named.emplace_back("gardening talk (held out)", &sets.garden);
        named.emplace_back("clinic (held out)", &sets.clinic);
    }
    std::string rows;
    for (const auto& [use, useName] : uses) {
        if (chosenUses && std::string(chosenUses).find(std::to_string(static_cast<int>(use))) == std::string::npos)
            continue;
        for (const auto& [setName, set] : named) {
            const bool development = set == &sets.questions || set == &sets.fresh;
            const std::size_t every = everyFor(use, set == &sets.questions);
            auto counting = std::make_shared<CountingModel>(model);
            Responder responder(counting, std::make_shared<ExtractiveAnswerer>(tokenizer), use);
            std::vector<Numbers> cited;
            std::vector<double> seconds;
            std::size_t asked = 0;
            for (std::size_t i = 0; i < set->size(); ++i) {
                if (i % every != 0) {
                    cited.push_back({});
                    continue;
                }
                ++asked;
                const auto& q = (*set)[i];
                const auto& excerpt = sets.excerptOf(q);
                const auto started = Clock::now();
                const int askedBefore = counting->asked;
                try {
                    const auto answer = responder.answer(q.text, excerpt);
                    cited.push_back(numbersOf(answer, excerpt));
                    // The held-out sets' answers stay unread.
                    if (development)
                        std::printf("[%s] %s -> %s\n", useName.c_str(), q.text.c_str(), answer.text.c_str());
                } catch (const std::exception&) {
                    cited.push_back({});
                }
                if (counting->asked > askedBefore) seconds.push_back(secondsSince(started));
            }
            const auto s = score(*set, cited, [&](std::size_t i) { return i % every == 0; });
            const std::string name =
                useName + ", " + setName +
                (every > 1 ? " (one question in " + std::to_string(every) + ": " + std::to_string(asked) + ")" : "");
            const std::string time =
                seconds.empty() ? "model not asked"
                                : fixed(mean(seconds), 1) + " s mean, " + fixed(percentile(seconds, 1.0), 1) + " s max";
            rows += scoreRow(name, s, time,
                             std::to_string(counting->asked) + " asked, " + std::to_string(counting->cut) + " cut, " +
                                 std::to_string(counting->timedOut) + " timed out, " +
                                 std::to_string(counting->failed) + " failed");
            entry["uses"].push_back({{"use", useName},
                                     {"set", setName},
                                     {"scores", toJson(s)},
                                     {"asked", counting->asked},
                                     {"cut", counting->cut},
                                     {"timedOut", counting->timedOut}});
            std::fflush(stdout);
        }
    }
    return rows;
}

// A base model made to write the answers itself from the whole excerpt, on `forced` questions spread over the three
// transcripts; fills the entry's "forcedGeneration". The use is named, not the responder's default, so that a
// change of what the app ships cannot change what this row measures.
std::string runForced(const std::shared_ptr<LanguageModel>& model, const std::string& fileName,
                      const QuestionSets& sets, const std::shared_ptr<MecabTokenizer>& tokenizer, int forced,
                      double memoryBefore, nlohmann::ordered_json& entry)
{
    const auto& questions = sets.questions;
    const std::size_t step = std::max<std::size_t>(1, questions.size() / static_cast<std::size_t>(forced));
    std::vector<Question> sample;
    for (std::size_t i = 0; i < questions.size(); ++i)
        if (i % step == 0) sample.push_back(questions[i]);
    sample.resize(std::min<std::size_t>(sample.size(), static_cast<std::size_t>(forced)));
    Responder responder(std::make_shared<ForcedChatModel>(model), std::make_shared<ExtractiveAnswerer>(tokenizer),
                        Use::wholeExcerpt);
    const double forcedMemoryBefore = peakMemoryMiB();
    std::vector<Numbers> cited;
    std::vector<double> seconds;
    for (const auto& q : sample) {
        const auto& excerpt = sets.excerptOf(q);
        const auto started = Clock::now();
        try {
            const auto answer = responder.answer(q.text, excerpt);
            cited.push_back(numbersOf(answer, excerpt));
            std::printf("[%s] %s -> %s\n", fileName.c_str(), q.text.c_str(), answer.text.c_str());
        } catch (const std::exception&) {
            cited.push_back({});
        }
        seconds.push_back(secondsSince(started));
    }
    const auto s = score(sample, cited);
    entry["forcedGeneration"] = {{"questions", sample.size()}, {"scores", toJson(s)}};
    const double memory = std::max(peakMemoryMiB() - memoryBefore, peakMemoryMiB() - forcedMemoryBefore);
    return "| " + fileName + " made to generate (" + std::to_string(sample.size()) + " questions) | " +
           percent(s.hitRate()) + " | " + percent(s.precision()) + " | " + percent(s.refusalRate()) + " | " +
           fixed(mean(seconds), 1) + " s mean, " + fixed(percentile(seconds, 1.0), 1) + " s max | " + fixed(memory, 0) +
           " MiB |\n";
}

} // namespace

std::set<std::filesystem::path> installedModelFiles()
{
    std::set<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(LlamaLanguageModel::modelsFolder(), error))
        if (entry.path().extension() == ".gguf") files.insert(entry.path());
    if (const char* chosen = std::getenv("TC_LANGUAGE_MODEL"); chosen && *chosen) files.insert(chosen);
    return files;
}

InstalledModelRuns runInstalledModels(const QuestionSets& sets, const std::shared_ptr<MecabTokenizer>& tokenizer,
                                      const std::set<std::filesystem::path>& files, bool scoreHeldOut, int forced)
{
    const auto& questions = sets.questions;
    InstalledModelRuns runs;
    runs.markdown =
        "## Installed language models, as the app uses them\n\n"
        "| model | kind | hit rate | citation precision | correct refusals | time per answer | model peak memory |\n"
        "|---|---|---|---|---|---|---|\n";
    std::string forcedRows;
    std::string useRows;
    for (const auto& file : files) {
        auto options = LlamaLanguageModel::optionsFor(file);
        options.threads = 2;
        auto model = std::make_shared<LlamaLanguageModel>(options);
        const auto kind = model->availability();
        const std::string fileName = file.filename().string();
        const double memoryBefore = peakMemoryMiB();
        // Built as the app builds it; an instruction-tuned model is asked one question here, its uses come below.
        Responder responder(model, std::make_shared<ExtractiveAnswerer>(tokenizer));
        const bool instructionTuned = kind == LanguageModel::Availability::available;
        const std::size_t count = instructionTuned ? 1 : questions.size();
        std::vector<Numbers> cited;
        std::vector<double> seconds;
        for (std::size_t i = 0; i < questions.size(); ++i) {
            if (i >= count) {
                cited.push_back({});
                continue;
            }
            const auto& excerpt = sets.excerptOf(questions[i]);
            const auto started = Clock::now();
            try {
                cited.push_back(numbersOf(responder.answer(questions[i].text, excerpt), excerpt));
            } catch (const std::exception&) {
                cited.push_back({});
            }
            seconds.push_back(secondsSince(started));
        }
        const auto s = score(questions, cited);
        const double memory = peakMemoryMiB() - memoryBefore;
        if (instructionTuned)
            runs.markdown +=
                "| " + fileName + " | " + kindName(kind) +
                " | below, by what it is shown | | | first question, the load included: " + fixed(seconds.front(), 1) +
                " s | " + fixed(memory, 0) + " MiB |\n";
        else
            runs.markdown += "| " + fileName + " | " + kindName(kind) + " | " + percent(s.hitRate()) + " | " +
                             percent(s.precision()) + " | " + percent(s.refusalRate()) + " | " +
                             fixed(mean(seconds) * 1000) + " ms mean, " + fixed(percentile(seconds, 1.0) * 1000) +
                             " ms max | " + (model->isLoaded() ? fixed(memory, 0) + " MiB" : "not loaded") + " |\n";
        nlohmann::ordered_json entry{
            {"model", fileName}, {"kind", kindName(kind)}, {"all", toJson(s)}, {"peakMemoryDeltaMiB", memory}};
        if (instructionTuned) {
            useRows += runUses(model, sets, tokenizer, scoreHeldOut, entry);
            entry["peakMemoryAfterUsesMiB"] = peakMemoryMiB() - memoryBefore;
            useRows += "\nModel peak memory over these runs: " + fixed(peakMemoryMiB() - memoryBefore, 0) + " MiB (" +
                       fileName + ").\n";
        }
        if (kind == LanguageModel::Availability::baseModel && forced > 0)
            forcedRows += runForced(model, fileName, sets, tokenizer, forced, memoryBefore, entry);
        runs.models.push_back(entry);
    }
    if (files.empty()) runs.markdown += "| (none installed) | | | | | | |\n";
    if (!useRows.empty())
        runs.markdown +=
            "\nAn instruction-tuned model, by what it is shown (time per answer counts the questions the "
            "model was asked; the last column says how its replies ended):\n\n"
            "| run | hit rate | citation precision | correct refusals | time per answer | model replies |\n"
            "|---|---|---|---|---|---|\n" +
            useRows;
    if (!forcedRows.empty())
        runs.markdown += "\nFor reference, a base model made to write the answers itself (the app never does this):\n\n"
                         "| run | hit rate | citation precision | correct refusals | time per answer | model peak "
                         "memory |\n|---|---|---|---|---|---|\n" +
                         forcedRows;
    return runs;
}

} // namespace tc::bench
