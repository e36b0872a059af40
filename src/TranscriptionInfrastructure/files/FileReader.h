#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tc {

// Reads whole files; stateless, callable from any thread.
class FileReader {
public:
    // The file's bytes; nothing when it is missing, not a regular file or unreadable.
    static std::optional<std::string> readAll(const std::filesystem::path& file);
};

} // namespace tc
