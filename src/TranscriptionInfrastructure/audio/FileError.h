#pragma once

#include <filesystem>
#include <stdexcept>

namespace tc {

// Why an audio file could not be read; what() is the Japanese text shown to the user.
class FileError : public std::runtime_error {
public:
    enum class Kind {
        // The file cannot be opened for reading as audio.
        cannotOpen,
        // The file opened but holds no frames, or reading its samples failed.
        decodeFailed,
        // Not a regular file (a directory, a named pipe, a device).
        notAFile,
        // The file breaks off; everything before the break was read (seconds()).
        truncated,
        // "-" was given but standard input is a terminal, not audio.
        standardInputIsTerminal,
    };

    // seconds: for truncated, how much audio could be read.
    FileError(Kind kind, std::filesystem::path file, double seconds = 0);

    Kind kind() const { return m_kind; }
    const std::filesystem::path& file() const { return m_file; }

private:
    Kind m_kind;
    std::filesystem::path m_file;
};

} // namespace tc
