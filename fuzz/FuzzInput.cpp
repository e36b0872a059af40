#include "FuzzInput.h"

#include <cstdlib>
#include <fstream>
#include <string>

namespace tc::fuzz {

namespace {

// A temporary folder that lives as long as the process.
class ScratchFolder {
public:
    ScratchFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tc-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data())) m_path = pattern;
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

} // namespace

std::filesystem::path scratchFolder()
{
    static const ScratchFolder folder;
    return folder.path().empty() ? std::filesystem::temp_directory_path() : folder.path();
}

void writeFile(const std::filesystem::path& file, const std::uint8_t* data, std::size_t size)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

} // namespace tc::fuzz
