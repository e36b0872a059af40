#pragma once

#include <span>
#include <string>

namespace tc::test {

// How the support code runs programs: a shell command line run to its end, fed the samples as raw bytes or read to
// its end into output. Its exit status, or -1 when it did not run or exit.
int runShellCommand(const std::string& command, std::string* output = nullptr, std::span<const float> input = {});
// The command's standard output; empty when it did not run.
std::string shellOutput(const std::string& command);
// The text as one shell word.
std::string shellQuoted(const std::string& text);

} // namespace tc::test
