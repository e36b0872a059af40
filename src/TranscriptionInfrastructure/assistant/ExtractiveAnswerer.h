#pragma once

#include "TranscriptionDomain/ConversationAnswer.h"
#include "TranscriptionDomain/ConversationExcerpt.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tc {

class MecabTokenizer;

// Answers a question by quoting the excerpt's lines that share the most telling words with it: BM25 over
// MeCab's content words (character bigrams when MeCab is missing), refusing when the best line covers too
// little of the question. Needs no language model, and is fast enough to answer on the UI's request.
// Thread-safe as long as the tokenizer is.
class ExtractiveAnswerer {
public:
    // The answer when no line is close enough to the question.
    static constexpr const char* kNotInConversation = "会話に出ていません。";
    // Tuned on the question-answering benchmark's tuning half. Measured: docs/question-answering.md.
    static constexpr double kDefaultThreshold = 0.52;
    // Character bigrams match far fewer of a question's pieces than words do, so they need a threshold of their own:
    // the lowest that still refuses most unanswerable questions. Measured: docs/question-answering.md.
    static constexpr double kBigramThreshold = 0.28;

    struct Ranking {
        // 1-based numbers of the lines to quote, the deciding one first; empty for an empty excerpt or a
        // question without content words.
        std::vector<std::int64_t> lineNumbers;
        // Share of the question's weight (idf) found in the deciding line: 0 to 1.
        double confidence = 0;
        // The best kShortlist lines by the ranking, best first, whatever their scores: what a model picks from.
        std::vector<std::int64_t> shortlist;
    };
    static constexpr std::size_t kShortlist = 8;

    // Rules on top of plain BM25, each of which can be switched off to measure what it brings.
    struct Levers {
        // The kind of answer a question word asks for (いつ: a date or time, 誰: a name, どこ: a place, いくら: an
        // amount of money, どれくらい: a number) counts as one more word of the question, which a line carrying such
        // an answer matches.
        bool answerKinds = true;
        // A question word the line leaves out but the line before it says counts for part: speakers drop the
        // topic they have just named.
        bool previousLine = true;
        // Verbs and adjectives of the question weigh less than its nouns: listeners keep the topic but retell what
        // was said of it ("出してくれる" for "負担します").
        bool lighterPredicates = true;
        // A noun of the question found inside a longer word of the line counts as said.
        bool spelledInside = true;
    };

    // A null tokenizer, or one without its dictionary, means character bigrams only; without a threshold, the one
    // measured for the words in use.
    explicit ExtractiveAnswerer(std::shared_ptr<MecabTokenizer> tokenizer, std::optional<double> threshold = {});
    ExtractiveAnswerer(std::shared_ptr<MecabTokenizer> tokenizer, std::optional<double> threshold, Levers levers);

    // The best lines and how sure the choice is, whatever the threshold.
    Ranking rank(const std::string& question, const ConversationExcerpt& excerpt) const;
    // The lines to cite (1-based), or none when the best one is below the threshold.
    std::vector<std::int64_t> citedLines(const std::string& question, const ConversationExcerpt& excerpt) const;
    // The same from a ranking already made.
    std::vector<std::int64_t> citedLines(const Ranking& ranking) const;
    // The cited lines quoted, one per text line, with their ids; kNotInConversation without sources when none.
    ConversationAnswer answer(const std::string& question, const ConversationExcerpt& excerpt) const;
    // The same for lines already chosen.
    static ConversationAnswer answerCiting(const std::vector<std::int64_t>& cited, const ConversationExcerpt& excerpt);
    // The quoted lines as answer text.
    static std::string quote(const std::vector<std::int64_t>& lineNumbers, const ConversationExcerpt& excerpt);

    double threshold() const { return m_threshold; }

    // A word of a text as the ranking counts it; predicate for a verb or an adjective.
    struct Term {
        std::string text;
        bool predicate = false;
    };

private:
    std::vector<Term> terms(const std::string& text) const;

    std::shared_ptr<MecabTokenizer> m_tokenizer;
    double m_threshold;
    Levers m_levers;
};

} // namespace tc
