#include "support/ShellCommand.h"

#include <cstdio>
#include <sys/wait.h>

namespace tc::test {

int runShellCommand(const std::string& command, std::string* output, std::span<const float> input)
{
    FILE* pipe = popen(command.c_str(), input.empty() ? "r" : "w");
    if (!pipe) return -1;
    bool complete = true;
    if (!input.empty()) complete = std::fwrite(input.data(), sizeof(float), input.size(), pipe) == input.size();
    char chunk[4096];
    for (std::size_t read = 0; output && (read = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        output->append(chunk, read);
    const int status = pclose(pipe);
    return complete && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string shellOutput(const std::string& command)
{
    std::string output;
    runShellCommand(command, &output);
    return output;
}

std::string shellQuoted(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace tc::test
