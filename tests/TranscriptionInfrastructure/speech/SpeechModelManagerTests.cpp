#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"
#include "support/TemporaryDirectory.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <fstream>

namespace tc {
namespace {

namespace fs = std::filesystem;

void write(const fs::path& file, const std::string& content)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
}

// SHA-1 of "model weights\n".
constexpr const char* kWeightsSha1 = "8796a0012533c0f1b9327e4ff25fe30c53642649";

class SpeechModelManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        write(m_catalogue, R"({"version": 1, "speech": {"default": "base", "models": [
            {"name": "tiny", "file": "ggml-tiny.bin", "bytes": null, "sha1": null},
            {"name": "base", "file": "ggml-base.bin", "bytes": 14, "sha1": ")" +
                               std::string(m_baseSha1) + R"("},
            {"name": "evil", "file": "../../etc/passwd", "bytes": null, "sha1": ")" +
                               std::string(m_baseSha1) + R"("}
        ]}, "language": {"models": []}})");
        fs::create_directories(m_models);
    }

    test::TemporaryDirectory m_dir;
    fs::path m_models = m_dir.path() / "models";
    fs::path m_catalogue = m_dir.path() / "models.json";
    std::string m_baseSha1 = *SpeechModelManager::sha1Of(writeWeights());

    fs::path writeWeights()
    {
        const fs::path file = m_dir.path() / "weights";
        write(file, "model weights\n");
        return file;
    }
};

TEST_F(SpeechModelManagerTest, ReadsTheCatalogueAndSkipsEntriesOutsideTheFolder)
{
    SpeechModelManager manager(m_models, m_catalogue);
    const auto models = manager.catalogue();
    ASSERT_EQ(models.size(), 2U);
    EXPECT_EQ(models[0].name, "tiny");
    EXPECT_EQ(models[1], (SpeechModelInfo{"base", "ggml-base.bin", m_baseSha1, 14}));
    EXPECT_EQ(m_baseSha1, kWeightsSha1);
}

TEST_F(SpeechModelManagerTest, UsesOnlyAVerifiedFileAndRemembersTheVerdict)
{
    SpeechModelManager manager(m_models, m_catalogue);
    // Missing: the message names the install command.
    auto lookup = manager.locate("base");
    ASSERT_TRUE(std::holds_alternative<std::string>(lookup));
    EXPECT_NE(std::get<std::string>(lookup).find("install-models --speech-model base"), std::string::npos);

    // Same size, other bytes: damaged, never used, not remembered.
    write(m_models / "ggml-base.bin", "model weightz\n");
    lookup = manager.locate("base");
    ASSERT_TRUE(std::holds_alternative<std::string>(lookup));
    EXPECT_NE(std::get<std::string>(lookup).find("壊れている"), std::string::npos);
    EXPECT_FALSE(fs::exists(m_models / ".verified.json"));

    write(m_models / "ggml-base.bin", "model weights\n");
    lookup = manager.locate("base");
    ASSERT_TRUE(std::holds_alternative<fs::path>(lookup));
    EXPECT_EQ(std::get<fs::path>(lookup), m_models / "ggml-base.bin");
    // The verdict is kept in the install command's own record, by size and time.
    std::ifstream cache(m_models / ".verified.json");
    const std::string record((std::istreambuf_iterator<char>(cache)), std::istreambuf_iterator<char>());
    EXPECT_NE(record.find("\"digest\": \"" + m_baseSha1 + "\""), std::string::npos) << record;
    EXPECT_NE(record.find("mtime_ns"), std::string::npos);

    // A later change of the file (new time) is checked again.
    write(m_models / "ggml-base.bin", "model weightz\n");
    EXPECT_TRUE(std::holds_alternative<std::string>(manager.locate("base")));
}

TEST_F(SpeechModelManagerTest, RefusesUnknownAndUncheckableModels)
{
    SpeechModelManager manager(m_models, m_catalogue);
    auto lookup = manager.locate("huge");
    ASSERT_TRUE(std::holds_alternative<std::string>(lookup));
    EXPECT_NE(std::get<std::string>(lookup).find("tiny, base"), std::string::npos);

    write(m_models / "ggml-tiny.bin", "anything");
    lookup = manager.locate("tiny");
    ASSERT_TRUE(std::holds_alternative<std::string>(lookup));
    EXPECT_NE(std::get<std::string>(lookup).find("チェックサム"), std::string::npos);

    SpeechModelManager withoutCatalogue(m_models, m_dir.path() / "missing.json");
    lookup = withoutCatalogue.locate("base");
    ASSERT_TRUE(std::holds_alternative<std::string>(lookup));
    EXPECT_NE(std::get<std::string>(lookup).find("scripts/setup"), std::string::npos);
}

TEST_F(SpeechModelManagerTest, ProjectCatalogueKnowsTheOfficialModels)
{
    SpeechModelManager manager(m_models, SpeechModelManager::defaultCatalogueFile());
    for (const char* name : {"tiny", "base", "small", "medium", "large-v3-turbo", "base-q5_1", "small-q8_0"})
        EXPECT_TRUE(manager.find(name)) << name;
    EXPECT_EQ(manager.find("base")->sha1, "465707469ff3a37a2b9b8d8f89f2f99de7299dac");
}

} // namespace
} // namespace tc
