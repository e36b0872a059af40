#include "TranscriptionInfrastructure/files/AtomicFileWriter.h"

#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>

using tc::AtomicFileWriter;

using tc::test::readText;

namespace {

mode_t modeOf(const std::filesystem::path& file)
{
    struct stat info {};
    ::stat(file.c_str(), &info);
    return info.st_mode & 07777;
}

} // namespace

TEST(AtomicFileWriter, ReplacesContentAndKeepsTheReplacedFilesMode)
{
    tc::test::TemporaryDirectory dir;
    const auto file = dir.path() / "export.md";
    ASSERT_EQ(AtomicFileWriter::write(file, "一"), std::nullopt);
    EXPECT_EQ(readText(file), "一");
    EXPECT_EQ(modeOf(file), 0600u) << "new files are private by default";

    ::chmod(file.c_str(), 0644);
    ASSERT_EQ(AtomicFileWriter::write(file, std::string(100000, 'x')), std::nullopt);
    EXPECT_EQ(readText(file).size(), 100000u);
    EXPECT_EQ(modeOf(file), 0644u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(AtomicFileWriter, ReportsAMissingFolderInJapanese)
{
    tc::test::TemporaryDirectory dir;
    const auto failure = AtomicFileWriter::write(dir.path() / "missing" / "file.txt", "x");
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->errorNumber, ENOENT);
    EXPECT_EQ(AtomicFileWriter::describe(*failure), "保存先のフォルダがありません");
    EXPECT_EQ(AtomicFileWriter::describe({ENOSPC}), "ディスクの空き容量が足りません");
}
