#include "TranscriptionInfrastructure/settings/AppPaths.h"

#include "support/BuiltProgram.h"
#include "support/QtTestApplication.h"
#include "support/TemporaryDirectory.h"
#include "support/TestPaths.h"

#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tc {
namespace {

namespace fs = std::filesystem;
using test::BuiltProgram;

// A user's home of its own, with the real models; the window runs without a display and without a sound server.
QProcessEnvironment homeEnvironment(const fs::path& home)
{
    fs::create_directories(home / ".local/share/transcription-corvane");
    std::error_code ignored;
    fs::create_directory_symlink(AppPaths::current().modelsDirectory(),
                                 home / ".local/share/transcription-corvane/models", ignored);
    const auto place = [&](const char* below) { return QString::fromStdString(home / below); };
    return BuiltProgram::environment({{"HOME", place("")},
                                      {"XDG_CONFIG_HOME", place(".config")},
                                      {"XDG_DATA_HOME", place(".local/share")},
                                      {"XDG_CACHE_HOME", place(".cache")},
                                      {"QT_QPA_PLATFORM", "offscreen"},
                                      {"PULSE_SERVER", "unix:" + place("no-sound-server")}});
}

// True once the program holds its instance lock, the first thing it does after Qt starts.
bool windowIsUp(BuiltProgram& program, const fs::path& home)
{
    const auto lock = home / ".local/share/transcription-corvane/instance.lock";
    const auto locked = [&] {
        const int fd = ::open(lock.c_str(), O_RDWR | O_CLOEXEC);
        const bool held = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0;
        if (fd >= 0) ::close(fd);
        return held;
    };
    auto& process = program.process();
    return QTest::qWaitFor([&] { return locked() || process.state() == QProcess::NotRunning; }, 120000) &&
           process.state() == QProcess::Running;
}

TEST(SingleInstance, ASecondLaunchShowsTheRunningWindowAndEndsWhileTheCommandLineStillWorks)
{
    test::qtApplication();
    test::TemporaryDirectory home;
    const auto environment = homeEnvironment(home.path());

    auto first = std::make_unique<BuiltProgram>(QStringList{}, environment);
    ASSERT_TRUE(windowIsUp(*first, home.path())) << first->finish(0).err;
    const auto second = BuiltProgram::run({}, environment, {}, 60000);
    EXPECT_EQ(second.status, 0);
    EXPECT_NE(second.err.find("すでに起動しています。開いているウィンドウを前面に表示しました。"), std::string::npos)
        << second.err;
    EXPECT_EQ(first->process().state(), QProcess::Running);

    // The command line does not open a window, so it runs beside the window.
    const auto silence = QString::fromStdString(test::dataDir() / "speech/silence.flac");
    const auto headless = BuiltProgram::run({"--transcribe", silence}, environment);
    EXPECT_EQ(headless.status, 0) << headless.err;

    // Another home is another user's history: its window opens.
    test::TemporaryDirectory otherHome;
    BuiltProgram other({}, homeEnvironment(otherHome.path()));
    EXPECT_TRUE(windowIsUp(other, otherHome.path())) << other.finish(0).err;

    // A holder killed outright leaves its lock and socket files behind; the next launch still opens its window.
    ::kill(static_cast<pid_t>(first->process().processId()), SIGKILL);
    first.reset();
    BuiltProgram relaunched({}, environment);
    ASSERT_TRUE(windowIsUp(relaunched, home.path())) << relaunched.finish(0).err;
    const auto third = BuiltProgram::run({}, environment, {}, 60000);
    EXPECT_EQ(third.status, 0) << third.err;
}

} // namespace
} // namespace tc
