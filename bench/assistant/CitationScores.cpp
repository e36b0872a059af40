#include "CitationScores.h"

#include <algorithm>
#include <set>

namespace tc::bench {

CitationScores score(const std::vector<Question>& questions, const std::vector<Numbers>& cited,
                     const std::function<bool(std::size_t)>& include)
{
    CitationScores s;
    for (std::size_t i = 0; i < questions.size(); ++i) {
        if (include && !include(i)) continue;
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

bool citedRight(const Question& question, const Numbers& cited)
{
    const auto& want = question.expected;
    return want.empty() ? cited.empty()
                        : !cited.empty() && std::find(want.begin(), want.end(), cited.front()) != want.end();
}

Numbers numbersOf(const ConversationAnswer& answer, const ConversationExcerpt& excerpt)
{
    Numbers numbers;
    for (const auto& id : answer.sourceLineIDs)
        for (std::size_t i = 0; i < excerpt.lines().size(); ++i)
            if (excerpt.lines()[i].id == id) numbers.push_back(static_cast<std::int64_t>(i) + 1);
    return numbers;
}

} // namespace tc::bench
