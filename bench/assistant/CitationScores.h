#pragma once

#include "QuestionSets.h"

#include "TranscriptionDomain/ConversationAnswer.h"

#include <cstddef>
#include <functional>

namespace tc::bench {

// How the lines a run cited compare with the expected ones. A hit: the first cited line is expected (answerable
// questions); a refusal: nothing cited (unanswerable ones); precision over every cited line of every question.
struct CitationScores {
    int answerable = 0;
    int hits = 0;
    int unanswerable = 0;
    int refusals = 0;
    int cited = 0;
    int citedCorrectly = 0;

    double hitRate() const { return answerable ? static_cast<double>(hits) / answerable : 0; }
    double refusalRate() const { return unanswerable ? static_cast<double>(refusals) / unanswerable : 0; }
    double precision() const { return cited ? static_cast<double>(citedCorrectly) / cited : 0; }
};

// cited[i] holds the lines cited for questions[i]; only the questions include(i) selects count (all when empty).
CitationScores score(const std::vector<Question>& questions, const std::vector<Numbers>& cited,
                     const std::function<bool(std::size_t)>& include = {});

// Whether the cited lines answer the question as the scores count it: the first one expected, or none for none.
bool citedRight(const Question& question, const Numbers& cited);

// The answer's source lines as their numbers in the excerpt.
Numbers numbersOf(const ConversationAnswer& answer, const ConversationExcerpt& excerpt);

} // namespace tc::bench
