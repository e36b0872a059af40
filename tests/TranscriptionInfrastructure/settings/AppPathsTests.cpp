#include "TranscriptionInfrastructure/settings/AppPaths.h"

#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <fstream>

namespace tc {
namespace {

namespace fs = std::filesystem;

void touch(const fs::path& file)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "{}";
}

TEST(AppPaths, FollowsTheXdgRulesAndIgnoresRelativeValues)
{
    const AppPaths plain({{"HOME", "/home/u"}}, {});
    EXPECT_EQ(plain.modelsDirectory(), "/home/u/.local/share/transcription-corvane/models");
    EXPECT_EQ(plain.historyFile(), "/home/u/.local/share/transcription-corvane/history.json");
    EXPECT_EQ(plain.calendarsDirectory(), "/home/u/.local/share/transcription-corvane/calendars");
    EXPECT_EQ(plain.evolutionCalendarsDirectory(), "/home/u/.local/share/evolution/calendar");
    EXPECT_EQ(plain.cacheDirectory(), "/home/u/.cache/transcription-corvane");
    EXPECT_EQ(plain.configDirectory(), "/home/u/.config/transcription-corvane");
    EXPECT_EQ(plain.engineConfigFile(), fs::path("/home/u/.config/transcription-corvane/config.json"));

    const AppPaths absolute(
        {{"HOME", "/home/u"}, {"XDG_DATA_HOME", "/d"}, {"XDG_CACHE_HOME", "/c"}, {"XDG_CONFIG_HOME", "/k"}}, {});
    EXPECT_EQ(absolute.modelsDirectory(), "/d/transcription-corvane/models");
    EXPECT_EQ(absolute.cacheDirectory(), "/c/transcription-corvane");
    EXPECT_EQ(AppPaths({{"TC_CACHE_DIR", "/shared-cache"}}, {}).cacheDirectory(), "/shared-cache");
    EXPECT_EQ(absolute.configDirectory(), "/k/transcription-corvane");
    // The engine setting keeps its fixed place under the home folder.
    EXPECT_EQ(absolute.engineConfigFile(), plain.engineConfigFile());

    const AppPaths relative({{"HOME", "/home/u"},
                             {"XDG_DATA_HOME", "data"},
                             {"XDG_CACHE_HOME", "./cache"},
                             {"XDG_CONFIG_HOME", ""},
                             {"TC_CACHE_DIR", "cache"}},
                            {});
    EXPECT_EQ(relative.dataHome(), "/home/u/.local/share");
    EXPECT_EQ(relative.cacheDirectory(), "/home/u/.cache/transcription-corvane");
    EXPECT_EQ(relative.configHome(), "/home/u/.config");
    // A relative HOME is no home either; the user database still names one.
    const AppPaths noHome({{"HOME", "somewhere"}}, {});
    ASSERT_TRUE(noHome.home());
    EXPECT_TRUE(noHome.home()->is_absolute());
    EXPECT_TRUE(noHome.dataHome().is_absolute() && noHome.cacheDirectory().is_absolute());

    test::TemporaryDirectory runtime;
    EXPECT_EQ(AppPaths({{"XDG_RUNTIME_DIR", runtime.path().string()}}, {}).runtimeDirectory(), runtime.path());
    EXPECT_NE(AppPaths({{"XDG_RUNTIME_DIR", "run"}}, {}).runtimeDirectory(), "run");
    EXPECT_NE(AppPaths({{"XDG_RUNTIME_DIR", "/no/such/folder"}}, {}).runtimeDirectory(), "/no/such/folder");
}

TEST(AppPaths, FindsTheCatalogueBesideTheExecutableThenInTheDataFolders)
{
    test::TemporaryDirectory prefix;
    test::TemporaryDirectory system;
    const auto executable = prefix.path() / "bin" / "transcription-corvane";
    const auto besideExecutable = prefix.path() / "share" / "transcription-corvane" / "models.json";
    const auto inDataDirs = system.path() / "transcription-corvane" / "models.json";
    const AppPaths::Environment environment{{"HOME", "/home/u"},
                                            {"XDG_DATA_DIRS", "relative:" + system.path().string()}};

    // Nothing installed: the place beside the executable, so a message can name it.
    EXPECT_EQ(AppPaths(environment, executable).catalogueFile(), besideExecutable);
    touch(inDataDirs);
    EXPECT_EQ(AppPaths(environment, executable).catalogueFile(), inDataDirs);
    touch(besideExecutable);
    EXPECT_EQ(AppPaths(environment, executable).catalogueFile(), besideExecutable);
}

} // namespace
} // namespace tc
