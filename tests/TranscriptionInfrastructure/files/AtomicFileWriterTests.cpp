#include "TranscriptionInfrastructure/files/AtomicFileWriter.h"

#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using tc::AtomicFileWriter;

TEST(AtomicFileWriter, ReplacesContentKeepsTheReplacedFilesModeAndReportsFailuresInJapanese)
{
    tc::test::TemporaryDirectory dir;
    const auto file = dir.path() / "export.md";
    const auto mode = [&] {
        struct stat info {};
        ::stat(file.c_str(), &info);
        return info.st_mode & 07777;
    };
    ASSERT_TRUE(AtomicFileWriter::write(file, "一").has_value());
    EXPECT_EQ(tc::test::readText(file), "一");
    EXPECT_EQ(mode(), 0600u) << "new files are private by default";

    ::chmod(file.c_str(), 0644);
    ASSERT_TRUE(AtomicFileWriter::write(file, std::string(100000, 'x')).has_value());
    EXPECT_EQ(tc::test::readText(file).size(), 100000u);
    EXPECT_EQ(mode(), 0644u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

    const auto written = AtomicFileWriter::write(dir.path() / "missing" / "file.txt", "x");
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().errorNumber, ENOENT);
    EXPECT_EQ(AtomicFileWriter::describe(written.error()), "保存先のフォルダがありません");
    // A cause without words of its own is still Japanese, not the system's English.
    EXPECT_EQ(AtomicFileWriter::describe({EXDEV}),
              "ファイルを書き込めませんでした（エラー番号 " + std::to_string(EXDEV) + "）");
}
