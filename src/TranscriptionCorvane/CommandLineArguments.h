#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tc {

// The reading of command-line options that the windowless commands share, so they accept the same spellings.
class CommandLineArguments {
public:
    // The arguments after the program's name.
    static std::vector<std::string> fromMain(int argc, char** argv);
    // The value of `flag` when arguments[i] is it, as `--flag=value` or `--flag value` (i then steps over the
    // value); an empty value when the flag has none; nothing when arguments[i] is another argument.
    static std::optional<std::string> valueOf(const std::vector<std::string>& arguments, std::size_t& i,
                                              const std::string& flag);
};

} // namespace tc
