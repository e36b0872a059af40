#include "QuestionAnsweringReport.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <numeric>
#include <sstream>

namespace tc::bench {

std::string percent(double share)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %%", share * 100);
    return text;
}

std::string fixed(double value, int digits)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    return text;
}

double mean(const std::vector<double>& values)
{
    return values.empty() ? NAN : std::accumulate(values.begin(), values.end(), 0.0) / values.size();
}

std::string scoreRow(const std::string& name, const CitationScores& s, const std::string& timing,
                     const std::string& memory)
{
    std::ostringstream out;
    out << "| " << name << " | " << percent(s.hitRate()) << " (" << s.hits << "/" << s.answerable << ") | "
        << percent(s.precision()) << " (" << s.citedCorrectly << "/" << s.cited << ") | " << percent(s.refusalRate())
        << " (" << s.refusals << "/" << s.unanswerable << ") | " << timing << " | " << memory << " |\n";
    return out.str();
}

nlohmann::ordered_json toJson(const CitationScores& s)
{
    return {{"hitRate", s.hitRate()},
            {"citationPrecision", s.precision()},
            {"correctRefusals", s.refusalRate()},
            {"answerable", s.answerable},
            {"unanswerable", s.unanswerable}};
}

void writeRuns(const std::filesystem::path& folder, const std::string& markdown, const nlohmann::ordered_json& json)
{
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "question-answering-runs.md") << markdown;
    std::ofstream(folder / "question-answering-runs.json") << json.dump(2) << '\n';
}

} // namespace tc::bench
