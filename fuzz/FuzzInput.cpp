#include "FuzzInput.h"

#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace tc::fuzz {

std::filesystem::path scratchFolder()
{
    static const std::filesystem::path folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "tc-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) return std::filesystem::temp_directory_path();
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(scratchFolder(), ignored);
        });
        return std::filesystem::path(pattern);
    }();
    return folder;
}

void writeFile(const std::filesystem::path& file, const std::uint8_t* data, std::size_t size)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

} // namespace tc::fuzz
