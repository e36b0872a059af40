#pragma once

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

} // namespace tc::test
