#pragma once

// What the recognition benchmarks read and print alike: the rendered recordings, figures for their tables and
// comma-separated options.

#include <nlohmann/json.hpp>

#include <filesystem>
#include <limits>
#include <string>
#include <vector>

namespace tc::bench {

// The recording's first channel at its own rate, cut to at most maxSeconds of 16 kHz audio; ends the benchmark with
// a hint to render the set when the file cannot be read.
std::vector<float> readRecording(const std::filesystem::path& file,
                                 double maxSeconds = std::numeric_limits<double>::infinity());
// The number with the given digits, "–" for anything else (a figure the pass did not produce).
std::string figure(const nlohmann::json& value, int digits = 2);
// "a,b,,c" as {"a", "b", "c"}.
std::vector<std::string> commaList(const std::string& text);

} // namespace tc::bench
