#pragma once

#include "CitationScores.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <vector>

namespace tc::bench {

// "12.3 %".
std::string percent(double share);
// The value with the given digits after the point.
std::string fixed(double value, int digits = 2);
// Mean of the values; NaN for none.
double mean(const std::vector<double>& values);

// A table row: the run's name, hit rate, citation precision and correct refusals with their counts, then the
// two last columns as given.
std::string scoreRow(const std::string& name, const CitationScores& scores, const std::string& timing,
                     const std::string& memory);
// The rates and the question counts, as the JSON result records them.
nlohmann::ordered_json toJson(const CitationScores& scores);

// Writes question-answering-runs.md and question-answering-runs.json into the folder, replacing both; nothing
// else there is touched (docs/question-answering.md and .json are the hand-kept record and link to the runs files).
void writeRuns(const std::filesystem::path& folder, const std::string& markdown, const nlohmann::ordered_json& json);

} // namespace tc::bench
