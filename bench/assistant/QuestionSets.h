#pragma once

#include "TranscriptionDomain/ConversationExcerpt.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace tc::bench {

// Line numbers in an excerpt, from 1.
using Numbers = std::vector<std::int64_t>;

// A question on one written transcript and the lines that answer it; none when the conversation never says.
struct Question {
    std::string transcript;
    std::string text;
    Numbers expected;
};

// The written transcripts of bench/assistant/qa and every question set asked on them.
struct QuestionSets {
    std::map<std::string, ConversationExcerpt> transcripts;
    // The meeting, the casual talk and the lecture: the even-numbered questions tune the refusal threshold.
    std::vector<Question> questions;
    // The trip meeting: written after the ranker's rules and never used to shape them; its misses are read.
    std::vector<Question> fresh;
    // Written before the paraphrase levers, on a talk of its own; only its totals are ever read, and only when
    // asked for (TC_BENCH_QA_HELDOUT), so that working on the ranker cannot look at it by accident.
    std::vector<Question> garden;
    // Written before the synonym work, by a helper who had not read the ranker's misses; totals only.
    std::vector<Question> clinic;
    // A school meeting and an incident review, written by a helper who never saw the answerer; totals only.
    std::vector<Question> heldout2;

    const ConversationExcerpt& excerptOf(const Question& question) const { return transcripts.at(question.transcript); }
};

// Reads every transcript (one line of text a line) and question file of the folder; throws on a malformed file.
QuestionSets readQuestionSets(const std::filesystem::path& material);

} // namespace tc::bench
