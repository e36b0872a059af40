#include "TranscriptionInfrastructure/settings/AppPaths.h"

#include "support/QtTestApplication.h"
#include "support/TemporaryDirectory.h"
#include "support/TestPaths.h"

#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tc {
namespace {

namespace fs = std::filesystem;

const QString kProgram = QString::fromStdString((test::binaryDir() / "src" / "transcription-corvane").string());

// A user's home of its own, with the real models; the window runs without a display and without a sound server.
QProcessEnvironment homeEnvironment(const fs::path& home)
{
    fs::create_directories(home / ".local/share/transcription-corvane");
    std::error_code ignored;
    fs::create_directory_symlink(AppPaths::current().modelsDirectory(),
                                 home / ".local/share/transcription-corvane/models", ignored);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, place] : {std::pair{"HOME", home},
                                      {"XDG_CONFIG_HOME", home / ".config"},
                                      {"XDG_DATA_HOME", home / ".local/share"},
                                      {"XDG_CACHE_HOME", home / ".cache"}})
        environment.insert(name, QString::fromStdString(place.string()));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("PULSE_SERVER", QString::fromStdString("unix:" + (home / "no-sound-server").string()));
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    return environment;
}

// The program in the given home, ended with SIGTERM when the test lets go of it.
class AppProcess {
public:
    explicit AppProcess(const QProcessEnvironment& environment, const QStringList& arguments = {})
    {
        m_process.setProcessEnvironment(environment);
        m_process.start(kProgram, arguments);
    }
    ~AppProcess()
    {
        if (m_process.state() == QProcess::NotRunning) return;
        m_process.terminate();
        if (!m_process.waitForFinished(30000)) m_process.kill();
        m_process.waitForFinished();
    }
    QProcess& process() { return m_process; }
    // The exit status, or -1 when it did not end by itself within the time given.
    int finish(int milliseconds)
    {
        const bool ended = m_process.waitForFinished(milliseconds) && m_process.exitStatus() == QProcess::NormalExit;
        return ended ? m_process.exitCode() : -1;
    }
    std::string errorText() { return m_process.readAllStandardError().toStdString(); }
    // True once it holds its instance lock, the first thing it does after Qt starts.
    bool windowIsUp(const fs::path& home)
    {
        const auto lock = home / ".local/share/transcription-corvane/instance.lock";
        const auto locked = [&] {
            const int fd = ::open(lock.c_str(), O_RDWR | O_CLOEXEC);
            const bool held = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0;
            if (fd >= 0) ::close(fd);
            return held;
        };
        return QTest::qWaitFor([&] { return locked() || m_process.state() == QProcess::NotRunning; }, 120000) &&
               m_process.state() == QProcess::Running;
    }

private:
    QProcess m_process;
};

TEST(SingleInstance, ASecondLaunchShowsTheRunningWindowAndEndsWhileTheCommandLineStillWorks)
{
    test::qtApplication();
    ASSERT_TRUE(fs::exists(kProgram.toStdString())) << "build the program first";
    test::TemporaryDirectory home;
    const auto environment = homeEnvironment(home.path());

    auto first = std::make_unique<AppProcess>(environment);
    ASSERT_TRUE(first->windowIsUp(home.path())) << first->errorText();

    {
        AppProcess second(environment);
        EXPECT_EQ(second.finish(60000), 0);
        const auto said = second.errorText();
        EXPECT_NE(said.find("すでに起動しています。開いているウィンドウを前面に表示しました。"), std::string::npos)
            << said;
    }
    EXPECT_EQ(first->process().state(), QProcess::Running);

    // The command line does not open a window, so it runs beside the window.
    {
        const auto silence = QString::fromStdString(test::dataDir() / "speech/silence.flac");
        AppProcess headless(environment, {"--transcribe", silence});
        EXPECT_EQ(headless.finish(600000), 0) << headless.errorText();
    }

    // Another home is another user's history: its window opens.
    test::TemporaryDirectory otherHome;
    {
        AppProcess other(homeEnvironment(otherHome.path()));
        EXPECT_TRUE(other.windowIsUp(otherHome.path())) << other.errorText();
    }

    // A holder killed outright leaves its lock and socket files behind; the next launch still opens its window.
    ::kill(static_cast<pid_t>(first->process().processId()), SIGKILL);
    first->finish(30000);
    first.reset();
    AppProcess relaunched(environment);
    ASSERT_TRUE(relaunched.windowIsUp(home.path())) << relaunched.errorText();
    AppProcess third(environment);
    EXPECT_EQ(third.finish(60000), 0) << third.errorText();
}

} // namespace
} // namespace tc
