#include "TranscriptionInfrastructure/settings/EngineConfig.h"

#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

using tc::EngineConfig;
using Kind = EngineConfig::TranscriberKind;

namespace {

class EngineConfigFile : public ::testing::Test {
protected:
    std::filesystem::path write(const std::string& content)
    {
        const auto file = m_dir.path() / "config.json";
        std::ofstream(file, std::ios::binary) << content;
        return file;
    }

    static EngineConfig resolve(const std::optional<std::filesystem::path>& file,
                                const std::map<std::string, std::string>& environment = {},
                                const EngineConfig::Overrides& overrides = {})
    {
        return EngineConfig::resolve(overrides, environment, file);
    }

    tc::test::TemporaryDirectory m_dir;
};

} // namespace

TEST_F(EngineConfigFile, LaterLayersWinAndTakeTheirValuesUnchanged)
{
    EXPECT_EQ(resolve(std::nullopt), EngineConfig{});
    const auto file = write(R"({"transcriber":"speechAnalyzer","locale":"en-US"})");
    EXPECT_EQ(resolve(file).locale, "en-US");
    EXPECT_EQ(resolve(file, {{"TS_LOCALE", "fr-FR"}}).locale, "fr-FR");
    EXPECT_EQ(resolve(file, {{"TS_LOCALE", "fr-FR"}}, {std::nullopt, "de-DE"}).locale, "de-DE");
    EXPECT_EQ(resolve(file, {{"TS_LOCALE", "fr-FR"}}, {Kind::speechAnalyzer, std::nullopt}).locale, "fr-FR");

    EXPECT_EQ(resolve(std::nullopt, {{"TS_LOCALE", ""}}).locale, "");
    EXPECT_EQ(resolve(write(R"({"locale":"  x  "})")).locale, "  x  ");
    EXPECT_EQ(resolve(std::nullopt, {}, {std::nullopt, ""}).locale, "");

    // An unknown transcriber name keeps the default back end and the rest of its layer.
    const auto unknown = resolve(write(R"({"transcriber":"whisperish","locale":"en-GB"})"));
    EXPECT_EQ(unknown.transcriber, Kind::speechAnalyzer);
    EXPECT_EQ(unknown.locale, "en-GB");
    EXPECT_EQ(resolve(std::nullopt, {{"TS_TRANSCRIBER", "nothing"}}).transcriber, Kind::speechAnalyzer);
    EXPECT_EQ(EngineConfig::transcriberKindFromRawValue("SpeechAnalyzer"), std::nullopt);
}

TEST_F(EngineConfigFile, ABrokenFileIsIgnoredWholeAndNeverStopsTheApp)
{
    // A known key of the wrong type discards the whole file, the locale with it.
    const auto numericLocale = write(R"({"transcriber":"speechAnalyzer","locale":42})");
    EXPECT_EQ(resolve(numericLocale).locale, "ja-JP");
    EXPECT_EQ(resolve(numericLocale, {{"TS_LOCALE", "ko-KR"}}).locale, "ko-KR");
    EXPECT_EQ(resolve(write(R"({"transcriber":["x"],"locale":"en-US"})")).locale, "ja-JP");
    EXPECT_EQ(resolve(write(R"({"transcriber":true,"locale":"en-US"})")).locale, "ja-JP");
    // Null and unknown keys are harmless.
    EXPECT_EQ(resolve(write(R"({"transcriber":null,"locale":"en-US","extra":[1,{"a":2}]})")).locale, "en-US");
    EXPECT_EQ(resolve(write(R"({"locale":null})")).locale, "ja-JP");

    for (const char* content : {"", "not json", R"(["locale","en-US"])", R"("en-US")", R"({"locale":"en-US")",
                                R"({"locale":"en-US"} trailing)", "{\"locale\":\"\xff\xfe\"}"}) {
        SCOPED_TRACE(content);
        EXPECT_EQ(resolve(write(content)), EngineConfig{});
    }
    EXPECT_EQ(resolve(m_dir.path() / "missing.json"), EngineConfig{});
    EXPECT_EQ(resolve(m_dir.path()), EngineConfig{});
    const auto pipe = m_dir.path() / "pipe.json";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(resolve(pipe), EngineConfig{}) << "a named pipe is skipped without waiting for a writer";
}

TEST(EngineConfig, AbsentFileLocationSkipsTheDefaultFile)
{
    tc::test::TemporaryDirectory home;
    const char* previous = std::getenv("HOME");
    const std::string saved = previous ? previous : "";
    ::setenv("HOME", home.path().c_str(), 1);
    const auto location = EngineConfig::defaultConfigFileURL();
    ASSERT_TRUE(location);
    EXPECT_EQ(*location, home.path() / ".config/transcription-corvane/config.json");
    std::filesystem::create_directories(location->parent_path());
    std::ofstream(*location) << R"({"locale":"en-US"})";

    EXPECT_EQ(EngineConfig::resolve({}, {}, std::nullopt).locale, "ja-JP");
    EXPECT_EQ(EngineConfig::resolve({}, {}, EngineConfig::defaultConfigFileURL()).locale, "en-US");

    if (previous)
        ::setenv("HOME", saved.c_str(), 1);
    else
        ::unsetenv("HOME");
}
