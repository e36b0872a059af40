#pragma once

#include "QuestionSets.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <set>
#include <string>

namespace tc {
class MecabTokenizer;
}

namespace tc::bench {

// The language models' part of a run: their tables as Markdown, and one JSON entry per model.
struct InstalledModelRuns {
    std::string markdown;
    nlohmann::ordered_json models = nlohmann::json::array();
};

// The .gguf files of the app's models folder, and TC_LANGUAGE_MODEL when set.
std::set<std::filesystem::path> installedModelFiles();

// Each model file as the app's responder uses it, on the 80 questions: a base model answers by quotation, an
// instruction-tuned one is asked the first question only (its load) and then run once per ModelUse on the 80
// questions and the trip (and the gardening talk and the clinic when scoreHeldOut); TC_BENCH_QA_MODEL_USES lists
// the uses to run by number, TC_BENCH_QA_EVERY_<use> ("k" or "k,m") asks one question in k of the 80 and one in
// m of the others. Rows are named by the use, never as shipped: which use ships is the hand-written report's to
// say. A base model is also made to generate from the whole excerpt for `forced` of the 80 questions.
InstalledModelRuns runInstalledModels(const QuestionSets& sets, const std::shared_ptr<MecabTokenizer>& tokenizer,
                                      const std::set<std::filesystem::path>& files, bool scoreHeldOut, int forced);

} // namespace tc::bench
