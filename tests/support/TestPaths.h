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
// The tests' own fixture files (tests/data).
inline std::filesystem::path testDataDir()
{
    return std::filesystem::path(TC_SOURCE_DIR) / "tests" / "data";
}
inline std::filesystem::path binaryDir()
{
    return TC_BINARY_DIR;
}

} // namespace tc::test
