#pragma once

#include "QuestionSets.h"

#include <filesystem>
#include <memory>

namespace tc {
class MecabTokenizer;
}

namespace tc::bench {

// Where the quotes refuse, the model's pick from the ranker's shortlist and P(はい) of a yes/no check on the pick
// and on the ranker's best line, one record per question of every set, written to question-answering-gate.json
// (question-answering-gate-context.json when TC_BENCH_QA_GATE_CONTEXT shows the line before as well) in the
// folder after each set. question-answering-gate-rows.py makes the report's rows from the records; the answers of
// the held-out sets are not printed.
void recordYesNoCheck(const QuestionSets& sets, const std::shared_ptr<MecabTokenizer>& tokenizer,
                      const std::filesystem::path& modelFile, const std::filesystem::path& folder);

} // namespace tc::bench
