#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace tc::test {

// The evaluation set's folder: TC_EVAL_DIR, or what scripts/make-eval-set prints; empty when unknown.
std::filesystem::path evalSetDir(const std::filesystem::path& sourceDir);

// The rows of a tab-separated table, each keyed by the names in its header line; blank lines are skipped.
std::vector<std::map<std::string, std::string>> readTable(const std::filesystem::path& table);

// One spoken turn of a speech table: who speaks (the microphone side unless the kind column says otherwise), when,
// and what.
struct SpeechTurn {
    std::string id;
    double start = 0;
    double end = 0;
    std::string text;
    bool microphone = true;
};

// The turns of a tab-separated speech table in order, its columns found by the names in its header line (id, start,
// end, text and, in two-speaker tables, kind).
std::vector<SpeechTurn> readSpeechTable(const std::filesystem::path& table);

} // namespace tc::test
