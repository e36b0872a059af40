#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"
#include "support/TemporaryDirectory.h"
#include "support/TestPaths.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

namespace tc {
namespace {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;

void write(const fs::path& file, const std::string& content)
{
    std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
}

// SHA-1 of "model weights\n".
constexpr const char* kWeightsSha1 = "8796a0012533c0f1b9327e4ff25fe30c53642649";
// SHA-256 of the same.
constexpr const char* kWeightsSha256 = "3100795e42b2eb175e3a53bf0787528bf2c1fef29b867b771abbd580ca4f7341";

// What locate() refuses with; "(found)" when it finds the file.
std::string refusal(SpeechModelManager& manager, const std::string& name)
{
    const auto lookup = manager.locate(name);
    return lookup ? "(found)" : lookup.error();
}

class SpeechModelManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        write(m_catalogue, std::string(R"({"version": 1, "speech": {"default": "base", "models": [
            {"name": "tiny", "file": "ggml-tiny.bin", "bytes": null, "sha1": null},
            {"name": "base", "file": "ggml-base.bin", "bytes": 14, "sha1": ")") +
                               kWeightsSha1 + R"("},
            {"name": "evil", "file": "../../etc/passwd", "bytes": null, "sha1": ")" +
                               kWeightsSha1 + R"("}
        ]}, "language": {"models": []}})");
        fs::create_directories(m_models);
    }

    test::TemporaryDirectory m_dir;
    fs::path m_models = m_dir.path() / "models";
    fs::path m_catalogue = m_dir.path() / "models.json";
};

TEST_F(SpeechModelManagerTest, UsesOnlyAVerifiedFileAndRemembersTheVerdict)
{
    SpeechModelManager manager(m_models, m_catalogue);
    EXPECT_THAT(refusal(manager, "base"), HasSubstr("install-models --speech-model base"));

    // Same size, other bytes: damaged, never used, not remembered.
    write(m_models / "ggml-base.bin", "model weightz\n");
    EXPECT_THAT(refusal(manager, "base"), HasSubstr("壊れている"));
    EXPECT_FALSE(fs::exists(m_models / ".verified.json"));

    write(m_models / "ggml-base.bin", "model weights\n");
    EXPECT_EQ(manager.locate("base"), (SpeechModelManager::Lookup{m_models / "ggml-base.bin"}));
    // The verdict is kept in the install command's own record, by size and time.
    const std::string record = test::readText(m_models / ".verified.json");
    EXPECT_THAT(record, AllOf(HasSubstr(std::string("\"digest\": \"") + kWeightsSha1 + "\""), HasSubstr("mtime_ns")));
}

TEST_F(SpeechModelManagerTest, ReadsTheCatalogueAndRefusesUnknownUncheckableAndOutsideModels)
{
    SpeechModelManager manager(m_models, m_catalogue);
    const auto models = manager.catalogue();
    ASSERT_EQ(models.size(), 2U) << "the entry outside the folder is skipped";
    EXPECT_EQ(models[0].name, "tiny");
    EXPECT_EQ(models[1].fileName, "ggml-base.bin");
    EXPECT_EQ(models[1].digest, kWeightsSha1);
    EXPECT_EQ(models[1].bytes, 14U);

    EXPECT_THAT(refusal(manager, "huge"), HasSubstr("tiny, base"));
    write(m_models / "ggml-tiny.bin", "anything");
    EXPECT_THAT(refusal(manager, "tiny"), HasSubstr("チェックサム"));
    SpeechModelManager withoutCatalogue(m_models, m_dir.path() / "missing.json");
    EXPECT_THAT(refusal(withoutCatalogue, "base"), HasSubstr("scripts/setup"));
}

TEST_F(SpeechModelManagerTest, ChecksAHostCheckedModelByTheDigestRecordedAtItsDownload)
{
    write(m_catalogue, R"({"speech": {"default": "q", "models": [
        {"name": "q", "file": "ggml-q.bin", "bytes": 14, "check": "host-sha256"}]}})");
    SpeechModelManager manager(m_models, m_catalogue);
    write(m_models / "ggml-q.bin", "model weights\n");
    // Put there by hand: nothing recorded what the host said, so nothing vouches for it.
    EXPECT_THAT(refusal(manager, "q"), HasSubstr("配布元が示したチェックサム"));

    // The installer's record of the host's SHA-256, from before the file's times changed: hashed again and kept.
    write(m_models / ".verified.json", std::string(R"({"ggml-q.bin": {"bytes": 14, "mtime_ns": 1, "ctime_ns": 1,
        "digest": ")") + kWeightsSha256 + R"("}})");
    EXPECT_EQ(manager.locate("q"), (SpeechModelManager::Lookup{m_models / "ggml-q.bin"}));
    EXPECT_THAT(test::readText(m_models / ".verified.json"), HasSubstr(kWeightsSha256));

    write(m_models / "ggml-q.bin", "model weightz\n");
    EXPECT_THAT(refusal(manager, "q"), HasSubstr("壊れている"));

    // A record whose digest is no SHA-256 vouches for nothing, even under the file's own times.
    struct stat info {};
    ASSERT_EQ(::stat((m_models / "ggml-q.bin").c_str(), &info), 0);
    const auto ns = [](const timespec& t) { return std::to_string(t.tv_sec * 1000000000LL + t.tv_nsec); };
    write(m_models / ".verified.json", R"({"ggml-q.bin": {"bytes": 14, "mtime_ns": )" + ns(info.st_mtim) +
                                           R"(, "ctime_ns": )" + ns(info.st_ctim) + R"(, "digest": "0"}})");
    EXPECT_NE(refusal(manager, "q"), "(found)");
}

} // namespace
} // namespace tc
