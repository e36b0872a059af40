#include "YesNoCheckRecords.h"

#include "BenchMeasures.h"
#include "CitationScores.h"

#include "TranscriptionInfrastructure/assistant/ExtractiveAnswerer.h"
#include "TranscriptionInfrastructure/assistant/FoundationModelsConversationResponder.h"
#include "TranscriptionInfrastructure/assistant/LlamaLanguageModel.h"
#include "TranscriptionInfrastructure/assistant/MecabTokenizer.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <utility>

namespace tc::bench {

namespace {

using Clock = std::chrono::steady_clock;

const std::string kSystem = "会話の発言が質問の答えになっているかを判断し、「はい」か「いいえ」だけで答えてください。";

} // namespace

void recordYesNoCheck(const QuestionSets& sets, const std::shared_ptr<MecabTokenizer>& tokenizer,
                      const std::filesystem::path& modelFile, const std::filesystem::path& folder)
{
    auto options = LlamaLanguageModel::optionsFor(modelFile);
    options.threads = 2;
    auto model = std::make_shared<LlamaLanguageModel>(options);
    auto extractive = std::make_shared<ExtractiveAnswerer>(tokenizer);
    FoundationModelsConversationResponder picking(
        model, extractive, FoundationModelsConversationResponder::ModelUse::shortlistWhenQuotesRefuse);
    const bool withContext = std::getenv("TC_BENCH_QA_GATE_CONTEXT") != nullptr;
    const auto yesFor = [&](const std::string& question, const ConversationExcerpt& excerpt, std::int64_t line,
                            double& seconds) {
        const auto started = Clock::now();
        // Speakers drop the topic just named, so the line before may be shown too.
        const std::string lineBefore =
            withContext && line > 1 ? "直前の発言: " + excerpt.lines()[static_cast<std::size_t>(line - 2)].text + "\n"
                                    : "";
        const auto p = model->probabilityOfYes(kSystem,
                                               "質問: " + question + "\n" + lineBefore +
                                                   "発言: " + excerpt.lines()[static_cast<std::size_t>(line - 1)].text +
                                                   "\n\nこの発言は、この質問の答えを含んでいますか？",
                                               "はい", "いいえ", {});
        seconds = std::chrono::duration<double>(Clock::now() - started).count();
        return p;
    };
    nlohmann::ordered_json records = nlohmann::json::array();
    const std::vector<std::pair<std::string, const std::vector<Question>*>> named{{"80", &sets.questions},
                                                                                  {"trip", &sets.fresh},
                                                                                  {"garden", &sets.garden},
                                                                                  {"clinic", &sets.clinic},
                                                                                  {"heldout2", &sets.heldout2}};
    for (const auto& [setName, set] : named) {
        const bool development = set == &sets.questions || set == &sets.fresh;
        for (std::size_t i = 0; i < set->size(); ++i) {
            const auto& q = (*set)[i];
            const auto& excerpt = sets.excerptOf(q);
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
                const auto started = Clock::now();
                Numbers picked;
                try {
                    picked = numbersOf(picking.answer(q.text, excerpt), excerpt);
                } catch (const std::exception&) {
                }
                record["model"] = picked;
                record["secondsModel"] = std::chrono::duration<double>(Clock::now() - started).count();
                const auto best = ranking.lineNumbers.empty() ? ranking.shortlist.front() : ranking.lineNumbers.front();
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
                    std::printf("[%s %zu] %s exp=%s best=%lld p=%.3f model=%s\n", setName.c_str(), i, q.text.c_str(),
                                nlohmann::json(q.expected).dump().c_str(), static_cast<long long>(best),
                                record["yesBest"].get<double>(), record["model"].dump().c_str());
                std::fflush(stdout);
            }
            records.push_back(record);
        }
        std::ofstream(folder / (withContext ? "question-answering-gate-context.json" : "question-answering-gate.json"))
            << nlohmann::ordered_json{{"model", modelFile.filename().string()},
                                      {"threads", 2},
                                      {"loadAverageAtEnd", loadAverage()},
                                      {"records", records}}
                   .dump(1)
            << '\n';
    }
}

} // namespace tc::bench
