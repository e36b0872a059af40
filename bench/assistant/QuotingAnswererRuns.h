#pragma once

#include "QuestionSets.h"

#include <nlohmann/json.hpp>

#include <memory>
#include <string>

namespace tc {
class MecabTokenizer;
}

namespace tc::bench {

// The quoting answerer's part of a run: its table and answer times as Markdown, and the JSON fields "threshold",
// the held-out sets' (when scored) and "extractive", in that order.
struct QuotingAnswererRuns {
    std::string markdown;
    nlohmann::ordered_json json;
};

// Scores the shipped ranker (its threshold tuned again on the even-numbered questions), each lever switched off,
// the ranking alone, the answerer as it was before the paraphrase work and the character-bigram fallback; the
// held-out sets get rows only when scoreHeldOut. Prints the misses of the 80 questions and the trip on
// TC_BENCH_QA_MISSES, and every set's totals for a sweep of thresholds and levers on TC_BENCH_QA_TOTALS.
QuotingAnswererRuns runQuotingAnswerer(const QuestionSets& sets, const std::shared_ptr<MecabTokenizer>& tokenizer,
                                       bool scoreHeldOut);

} // namespace tc::bench
