#pragma once

#include <filesystem>
#include <string>

namespace tc::test {

// A fresh directory under the system's temporary folder, removed with everything in it on destruction.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

// The whole file as bytes; empty when it cannot be read.
std::string readText(const std::filesystem::path& file);

} // namespace tc::test
