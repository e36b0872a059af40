#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>

// Every harness here is one libFuzzer entry point. Built with clang's -fsanitize=fuzzer it runs under libFuzzer;
// built with any compiler and FuzzReplayMain.cpp it replays a corpus (the regression run in ctest).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace tc::fuzz {

inline std::string_view text(const std::uint8_t* data, std::size_t size)
{
    return {reinterpret_cast<const char*>(data), size};
}

// A folder of this process's own for harnesses whose reader takes a file, made once and reused.
std::filesystem::path scratchFolder();
// Replaces the file's content with the input.
void writeFile(const std::filesystem::path& file, const std::uint8_t* data, std::size_t size);

} // namespace tc::fuzz
