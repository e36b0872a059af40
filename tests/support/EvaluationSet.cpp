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

std::vector<SpeechTurn> readSpeechTable(const std::filesystem::path& table)
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
    std::vector<SpeechTurn> turns;
    while (std::getline(in, line)) {
        const auto row = fields(line);
        if (row.empty() || row.front().empty()) continue;
        SpeechTurn turn;
        for (std::size_t i = 0; i < std::min(row.size(), header.size()); ++i) {
            if (header[i] == "id") turn.id = row[i];
            if (header[i] == "kind") turn.microphone = row[i] == "mic";
            if (header[i] == "start") turn.start = std::stod(row[i]);
            if (header[i] == "end") turn.end = std::stod(row[i]);
            if (header[i] == "text") turn.text = row[i];
        }
        turns.push_back(std::move(turn));
    }
    return turns;
}

} // namespace tc::test
