#pragma once

#include <cstdlib>
#include <filesystem>

namespace tc::test {

// The repository's data folder (speech samples, sentence lists, catalogues).
inline std::filesystem::path dataDir()
{
    return TC_TEST_DATA_DIR;
}
inline std::filesystem::path sourceDir()
{
    return TC_SOURCE_DIR;
}
inline std::filesystem::path binaryDir()
{
    return TC_BINARY_DIR;
}

// The speech models the user installed, where the program looks for them; empty when there is no home.
inline std::filesystem::path userModelsDir()
{
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
        return std::filesystem::path(data) / "transcription-corvane/models";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home) / ".local/share/transcription-corvane/models";
    return {};
}

} // namespace tc::test
