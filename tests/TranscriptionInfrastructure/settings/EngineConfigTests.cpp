#include "TranscriptionInfrastructure/settings/EngineConfig.h"

#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

namespace tc {
namespace {

class EngineConfigFile : public ::testing::Test {
protected:
    std::filesystem::path write(const std::string& content)
    {
        std::ofstream(m_file, std::ios::binary) << content;
        return m_file;
    }

    test::TemporaryDirectory m_dir;
    const std::filesystem::path m_file = m_dir.path() / "config.json";
};

TEST_F(EngineConfigFile, LaterLayersWinUnchangedAndABrokenFileIsIgnoredWhole)
{
    EXPECT_EQ(EngineConfig::resolve({}, {}, std::nullopt), EngineConfig{});
    const auto file = write(R"({"transcriber":"speechAnalyzer","locale":"en-US"})");
    const std::map<std::string, std::string> french{{"TS_LOCALE", "fr-FR"}};
    EXPECT_EQ(EngineConfig::resolve({}, {}, file).locale, "en-US");
    EXPECT_EQ(EngineConfig::resolve({}, french, file).locale, "fr-FR");
    EXPECT_EQ(EngineConfig::resolve({std::nullopt, "de-DE"}, french, file).locale, "de-DE");
    EXPECT_EQ(EngineConfig::resolve({EngineConfig::TranscriberKind::speechAnalyzer, std::nullopt}, french, file).locale,
              "fr-FR");
    // Values are taken as they are, empty or padded.
    EXPECT_EQ(EngineConfig::resolve({}, {{"TS_LOCALE", ""}}, std::nullopt).locale, "");
    EXPECT_EQ(EngineConfig::resolve({}, {}, write(R"({"locale":"  x  "})")).locale, "  x  ");
    EXPECT_EQ(EngineConfig::resolve({std::nullopt, ""}, {}, std::nullopt).locale, "");
    // An unknown transcriber name keeps the default back end and the rest of its layer.
    EXPECT_EQ(EngineConfig::resolve({}, {}, write(R"({"transcriber":"whisperish","locale":"en-GB"})")).locale, "en-GB");

    // A known key of the wrong type discards the whole file, the locale with it; null and unknown keys are harmless.
    for (const auto& [content, locale] : {std::pair{R"({"transcriber":"speechAnalyzer","locale":42})", "ja-JP"},
                                          {R"({"transcriber":true,"locale":"en-US"})", "ja-JP"},
                                          {R"({"transcriber":null,"locale":"en-US","extra":[1,{"a":2}]})", "en-US"},
                                          {R"({"locale":null})", "ja-JP"}}) {
        SCOPED_TRACE(content);
        EXPECT_EQ(EngineConfig::resolve({}, {}, write(content)).locale, locale);
    }
    EXPECT_EQ(EngineConfig::resolve({}, {{"TS_LOCALE", "ko-KR"}}, write(R"({"locale":42})")).locale, "ko-KR");
    for (const char* content : {"not json", R"(["locale","en-US"])", "{\"locale\":\"\xff\xfe\"}"}) {
        SCOPED_TRACE(content);
        EXPECT_EQ(EngineConfig::resolve({}, {}, write(content)), EngineConfig{});
    }
    EXPECT_EQ(EngineConfig::resolve({}, {}, m_dir.path() / "missing.json"), EngineConfig{});
    EXPECT_EQ(EngineConfig::resolve({}, {}, m_dir.path()), EngineConfig{});
    const auto pipe = m_dir.path() / "pipe.json";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(EngineConfig::resolve({}, {}, pipe), EngineConfig{}) << "a named pipe is skipped without a writer";
}

TEST_F(EngineConfigFile, AbsentFileLocationSkipsTheDefaultFile)
{
    const char* previous = std::getenv("HOME");
    const std::string saved = previous ? previous : "";
    ::setenv("HOME", m_dir.path().c_str(), 1);
    const auto location = EngineConfig::defaultConfigFileURL();
    ASSERT_TRUE(location);
    EXPECT_EQ(*location, m_dir.path() / ".config/transcription-corvane/config.json");
    std::filesystem::create_directories(location->parent_path());
    std::ofstream(*location) << R"({"locale":"en-US"})";
    EXPECT_EQ(EngineConfig::resolve({}, {}, std::nullopt).locale, "ja-JP");
    EXPECT_EQ(EngineConfig::resolve({}, {}, location).locale, "en-US");
    previous ? ::setenv("HOME", saved.c_str(), 1) : ::unsetenv("HOME");
}

} // namespace
} // namespace tc
