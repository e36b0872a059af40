#include "support/EvaluationSet.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace tc::test {

std::filesystem::path evalSetDir(const std::filesystem::path& sourceDir)
{
    if (const char* dir = std::getenv("TC_EVAL_DIR"); dir && *dir) return dir;
    const std::string command = (sourceDir / "scripts" / "make-eval-set").string() + " --print-dir 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {};
    char buffer[4096] = {};
    const std::size_t read = std::fread(buffer, 1, sizeof buffer - 1, pipe);
    pclose(pipe);
    std::string dir(buffer, read);
    while (!dir.empty() && (dir.back() == '\n' || dir.back() == ' '))
        dir.pop_back();
    return dir;
}

} // namespace tc::test
