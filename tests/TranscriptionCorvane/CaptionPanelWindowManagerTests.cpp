// Runs the real application under each window manager of the common Linux desktops, on a private X server and a
// private sound server, and reads from screenshots whether the caption panel stays readable above a focused
// full-screen window, and whether a docked panel keeps its strip free of a maximised window.

#include "TranscriptionInfrastructure/settings/AppPaths.h"

#include "support/AppUnderXvfb.h"
#include "support/CaptionPixels.h"
#include "support/TestPaths.h"

#include <QColor>
#include <QImage>
#include <QJsonArray>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace tc {
namespace {

namespace fs = std::filesystem;

struct WindowManager {
    // The test's name for it.
    std::string name;
    // The program that must be installed.
    QString program;
    QStringList command;
};

std::ostream& operator<<(std::ostream& out, const WindowManager& wm)
{
    return out << wm.name;
}

std::vector<WindowManager> windowManagers()
{
    // Each in a session bus of its own, as a desktop session would start it. All of them keep maximised windows
    // out of a strip a dock window reserves (measured, docs/caption-panel.md).
    const QStringList bus{QStringLiteral("dbus-run-session"), QStringLiteral("--")};
    return {
        {"mutter", "mutter", bus + QStringList{"mutter", "--x11", "--replace"}},
        {"kwin_x11", "kwin_x11", bus + QStringList{"kwin_x11", "--replace"}},
        {"xfwm4", "xfwm4", bus + QStringList{"xfwm4", "--replace"}},
        {"xfwm4_without_compositor", "xfwm4", bus + QStringList{"xfwm4", "--compositor=off", "--replace"}},
        {"openbox", "openbox", bus + QStringList{"openbox", "--replace"}},
    };
}

// The full-screen window's one colour; the caption's text is white on a dark box.
const QColor fullScreenColour(0x1e, 0x5a, 0xa0);

// Pixels of the full-screen window's colour in the area.
int covering(const QImage& shot, const QRect& area)
{
    return test::pixelsNear(shot, area, fullScreenColour, 7);
}

// Pixels of the caption's text in the area: each component above 200.
int textPixels(const QImage& shot, const QRect& area)
{
    return test::pixelsNear(shot, area, Qt::white, 54);
}

class CaptionPanelUnderWindowManager : public ::testing::TestWithParam<WindowManager> {
protected:
    void SetUp() override
    {
        const WindowManager& wm = GetParam();
        for (const QString& tool :
             {QStringLiteral("Xvfb"), QStringLiteral("xdotool"), QStringLiteral("xterm"), QStringLiteral("import"),
              QStringLiteral("xprop"), QStringLiteral("xwininfo"), QStringLiteral("wmctrl"), QStringLiteral("paplay"),
              QStringLiteral("dbus-run-session"), wm.program})
            ASSERT_FALSE(QStandardPaths::findExecutable(tool).isEmpty())
                << tool.toStdString() << " is missing: run scripts/setup, which installs it with the window managers";
        if (!fs::exists(AppPaths::current().modelsDirectory() / "ggml-base.bin"))
            GTEST_SKIP() << "the default speech model is not installed";
    }

    void TearDown() override
    {
        for (auto& window : m_windows) {
            window->kill();
            window->waitForFinished(3000);
        }
        m_wm.terminate();
        if (!m_wm.waitForFinished(5000)) m_wm.kill();
        m_wm.waitForFinished(3000);
        m_app.reset();
    }

    // An X tool's standard output; empty when it failed or did not finish in time.
    QString tool(const QString& program, const QStringList& arguments, int milliseconds = 10000)
    {
        return m_app->run(program, arguments, milliseconds).value_or(QString());
    }

    // A fresh user with the caption panel placed as given, under the window manager, transcribing.
    void startApp(const QString& placement)
    {
        m_app = std::make_unique<test::AppUnderXvfb>(test::AppUnderXvfb::User{.captionPlacement = placement});
        ASSERT_EQ(m_app->startError(), "");
        const WindowManager& wm = GetParam();
        // GTK reaches the accessibility bus through the private session bus, which starts it on demand: a step
        // with a 25 s D-Bus timeout that a window manager's place on the screen does not depend on.
        QProcessEnvironment environment = m_app->environment();
        environment.insert("NO_AT_BRIDGE", "1");
        m_wm.setProcessEnvironment(environment);
        m_wm.setProcessChannelMode(QProcess::MergedChannels);
        // Ready once it names itself on the root window (EWMH's supporting-WM check). On this shared machine one
        // sometimes quits at once because its first connection to the new display fails: it is started again,
        // twice at most, and each one that quits is told with what it said.
        std::string ended;
        for (int attempt = 0; attempt < 3; ++attempt) {
            m_wm.start(wm.command.front(), wm.command.mid(1));
            ASSERT_TRUE(m_wm.waitForStarted(10000)) << wm.name << " did not start";
            (void)QTest::qWaitFor(
                [&] {
                    return m_wm.state() == QProcess::NotRunning ||
                           tool("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("#");
                },
                60000);
            if (m_wm.state() == QProcess::Running) break;
            ended += wm.name + " ended: " + m_wm.readAll().toStdString() + "\n" + m_app->xServerReport() + "\n";
        }
        ASSERT_EQ(m_wm.state(), QProcess::Running) << ended;
        if (!ended.empty()) std::cout << "started again after: " << ended;
        ASSERT_TRUE(tool("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("#"))
            << wm.name << " did not take over the screen: " << m_wm.readAll().toStdString();
        ASSERT_TRUE(m_app->launch()) << "the app did not start transcribing with its caption panel shown: "
                                     << m_app->program().finish(0).err;
    }

    // Starts an xterm of the full-screen colour with these options and returns its window, focused.
    QString openWindow(const QString& windowClass, const QStringList& options)
    {
        auto window = std::make_unique<QProcess>();
        window->setProcessEnvironment(m_app->environment());
        const QString colour = fullScreenColour.name();
        window->start("xterm", options + QStringList{"-class", windowClass, "-bg", colour, "-fg", colour, "-cr", colour,
                                                     "-e", "sleep", "600"});
        m_windows.push_back(std::move(window));
        const QString id = tool("xdotool", {"search", "--sync", "--class", windowClass}, 20000).split('\n').front();
        if (!id.isEmpty()) (void)tool("xdotool", {"windowactivate", "--sync", id});
        return id.trimmed();
    }

    QImage screenshot() { return m_app->screenshot(m_app->home() / "screen.png"); }

    QString activeWindow() { return tool("xdotool", {"getactivewindow"}).trimmed(); }

    std::unique_ptr<test::AppUnderXvfb> m_app;
    QProcess m_wm;
    std::vector<std::unique_ptr<QProcess>> m_windows;
};

TEST_P(CaptionPanelUnderWindowManager, CaptionsStayReadableAboveAFocusedFullScreenWindowThatKeepsTheFocus)
{
    ASSERT_NO_FATAL_FAILURE(startApp("floating"));
    const QString fullScreen = openWindow("TcFullScreen", {"-fullscreen"});
    ASSERT_FALSE(fullScreen.isEmpty()) << "the full-screen window did not appear";
    // The window covers the whole screen, corners included, before anything is judged.
    const auto coversScreen = [&] {
        const QImage shot = screenshot();
        return !shot.isNull() && covering(shot, QRect(2, 2, 1, 1)) == 1 &&
               covering(shot, QRect(shot.width() - 3, shot.height() - 3, 1, 1)) == 1;
    };
    ASSERT_TRUE(QTest::qWaitFor(coversScreen, 20000)) << "the xterm did not go full screen";

    QProcess speech;
    speech.setProcessEnvironment(m_app->environment());
    speech.start("paplay",
                 {"--device=out", QString::fromStdString((test::sourceDir() / "samples/ja-sample.flac").string())});
    ASSERT_TRUE(
        m_app->waitForState([](const QJsonObject& state) { return !state["captions"].toArray().isEmpty(); }, 90000))
        << "no caption came from the speech";
    const QRect panel = test::AppUnderXvfb::rectOf(m_app->state()["captionPanel"].toObject());
    ASSERT_FALSE(panel.isEmpty());
    QImage seen;
    const bool readable = QTest::qWaitFor([&] { return textPixels(seen = screenshot(), panel) > 150; }, 10000);
    EXPECT_TRUE(readable) << GetParam().name << ": the caption is hidden behind the full-screen window ("
                          << textPixels(seen, panel) << " text pixels, " << covering(seen, panel) << " of "
                          << panel.width() * panel.height() << " pixels show the full-screen window)";
    EXPECT_EQ(activeWindow(), fullScreen) << "the caption panel took the focus from the full-screen window";
    speech.kill();
    speech.waitForFinished(3000);

    // On another workspace the captions are still there.
    const int desktops = tool("xdotool", {"get_num_desktops"}).trimmed().toInt();
    if (desktops < 2) {
        std::cout << GetParam().name << " has one workspace only; the other-workspace check did not run\n";
        return;
    }
    (void)tool("xdotool", {"set_desktop", "1"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return tool("xdotool", {"get_desktop"}).trimmed() == "1"; }, 10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return textPixels(screenshot(), panel) > 150; }, 10000))
        << GetParam().name << ": the caption is not shown on the second workspace";
}

TEST_P(CaptionPanelUnderWindowManager, DockedAtTheBottomKeepsItsStripFreeOfAMaximisedWindow)
{
    ASSERT_NO_FATAL_FAILURE(startApp("bottom"));
    const QRect panel = test::AppUnderXvfb::rectOf(m_app->state()["captionPanel"].toObject());
    const int width = m_app->screenSize().width();
    const int height = m_app->screenSize().height();
    ASSERT_EQ(panel, QRect(0, height - panel.height(), width, panel.height()))
        << "the docked panel is not along the whole bottom edge";

    const QString maximised = openWindow("TcMaximised", {});
    ASSERT_FALSE(maximised.isEmpty()) << "the window to maximise did not appear";
    // Maximised by the window manager, as its title bar's button does (xterm's own option only resizes itself).
    (void)tool("wmctrl", {"-i", "-r", maximised, "-b", "add,maximized_vert,maximized_horz"});
    QRect frame;
    const auto isMaximised = [&] {
        const QString info = tool("xwininfo", {"-id", maximised});
        const auto number = [&](const char* label) {
            return QRegularExpression(QString::fromLatin1(label) + R"(:\s+(-?\d+))").match(info).captured(1).toInt();
        };
        frame =
            QRect(number("Absolute upper-left X"), number("Absolute upper-left Y"), number("Width"), number("Height"));
        return frame.width() > width * 3 / 4 && frame.height() > height / 3 &&
               tool("xprop", {"-id", maximised, "_NET_WM_STATE"}).contains("_NET_WM_STATE_MAXIMIZED_VERT");
    };
    ASSERT_TRUE(QTest::qWaitFor(isMaximised, 20000)) << "the window was not maximised";
    EXPECT_LE(frame.bottom(), panel.top() - 1)
        << GetParam().name << ": the maximised window (" << frame.y() << "+" << frame.height()
        << ") reaches into the caption's strip from y " << panel.top();
    EXPECT_EQ(activeWindow(), maximised) << "the docked panel took the focus from the maximised window";
}

INSTANTIATE_TEST_SUITE_P(WindowManagers, CaptionPanelUnderWindowManager, ::testing::ValuesIn(windowManagers()),
                         [](const ::testing::TestParamInfo<WindowManager>& tested) { return tested.param.name; });

} // namespace
} // namespace tc
