#include "TranscriptionCorvane/CommandLineArguments.h"

#include <algorithm>

namespace tc {

std::vector<std::string> CommandLineArguments::fromMain(int argc, char** argv)
{
    return std::vector<std::string>(argv + std::min(argc, 1), argv + argc);
}

std::optional<std::string> CommandLineArguments::valueOf(const std::vector<std::string>& arguments, std::size_t& i,
                                                         const std::string& flag)
{
    const std::string& argument = arguments[i];
    if (argument.starts_with(flag + "=")) return argument.substr(flag.size() + 1);
    if (argument != flag) return std::nullopt;
    if (i + 1 >= arguments.size() || arguments[i + 1].starts_with("--")) return std::string{};
    return arguments[++i];
}

} // namespace tc
