#include "support/EvaluationSet.h"
#include "support/ShellCommand.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace tc::test {

std::filesystem::path evalSetDir(const std::filesystem::path& sourceDir)
{
    if (const char* dir = std::getenv("TC_EVAL_DIR"); dir && *dir) return dir;
    std::string dir =
        shellOutput(shellQuoted((sourceDir / "scripts" / "make-eval-set").string()) + " --print-dir 2>/dev/null");
    while (!dir.empty() && (dir.back() == '\n' || dir.back() == ' '))
        dir.pop_back();
    return dir;
}

std::vector<std::map<std::string, std::string>> readTable(const std::filesystem::path& table)
{
    const auto fields = [](const std::string& line) {
        std::vector<std::string> out;
        std::istringstream in(line);
        for (std::string field; std::getline(in, field, '\t');)
            out.push_back(field);
        return out;
    };
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);
    const auto header = fields(line);
    std::vector<std::map<std::string, std::string>> rows;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        const auto values = fields(line);
        std::map<std::string, std::string> row;
        for (std::size_t i = 0; i < std::min(header.size(), values.size()); ++i)
            row[header[i]] = values[i];
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<SpeechTurn> readSpeechTable(const std::filesystem::path& table)
{
    std::vector<SpeechTurn> turns;
    for (auto& row : readTable(table)) {
        if (row["id"].empty()) continue;
        SpeechTurn turn;
        turn.id = row["id"];
        if (row.contains("kind")) turn.microphone = row["kind"] == "mic";
        if (row.contains("start")) turn.start = std::stod(row["start"]);
        if (row.contains("end")) turn.end = std::stod(row["end"]);
        turn.text = row["text"];
        turns.push_back(std::move(turn));
    }
    return turns;
}

} // namespace tc::test
