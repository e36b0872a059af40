// Takes the screenshots the AppStream metainfo shows: the real application on a private X server, transcribing the
// bundled sample played into a private sound server, for a new user with a temporary home.
// With TC_UPDATE_SCREENSHOTS=1 the pictures also replace the ones in data/screenshots.

#include "TranscriptionInfrastructure/settings/AppPaths.h"

#include "support/BuiltProgram.h"
#include "support/PulseAudioServer.h"
#include "support/QtTestApplication.h"
#include "support/TemporaryDirectory.h"
#include "support/TestPaths.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

#include <fstream>

namespace tc {
namespace {

namespace fs = std::filesystem;

QJsonObject readJson(const fs::path& file)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(test::readText(file))).object();
}

// A private X server; it takes a free display number itself and tells it once ready.
class XvfbServer {
public:
    XvfbServer()
    {
        m_process.start(QStringLiteral("Xvfb"),
                        {"-displayfd", "1", "-screen", "0", "1600x1000x24", "-nolisten", "tcp"});
        if (m_process.waitForReadyRead(10000)) m_display = ":" + QString(m_process.readAllStandardOutput()).trimmed();
    }
    ~XvfbServer()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) m_process.kill();
        m_process.waitForFinished(3000);
    }
    const QString& display() const { return m_display; }

private:
    QProcess m_process;
    QString m_display;
};

// The picture names the metainfo's <image> addresses end with, in its order.
QStringList metainfoScreenshots()
{
    const QString metainfo = QString::fromStdString(
        test::readText(test::sourceDir() / "data/desktop/io.github.corvane.TranscriptionCorvane.metainfo.xml"));
    QStringList names;
    static const QRegularExpression image(QStringLiteral("<image[^>]*>[^<]*/([^/<]+\\.png)</image>"));
    for (auto it = image.globalMatch(metainfo); it.hasNext();)
        names << it.next().captured(1);
    return names;
}

// A picture worth showing: the size of a window, and drawn (a blank or half-painted window has few colours).
bool looksDrawn(const QImage& picture)
{
    if (picture.isNull() || picture.width() < 300 || picture.height() < 100) return false;
    QSet<QRgb> colours;
    for (int y = 0; y < picture.height(); y += 3)
        for (int x = 0; x < picture.width(); x += 3)
            colours.insert(picture.pixel(x, y));
    return colours.size() > 40;
}

TEST(Screenshots, MainWindowSettingsAndCaptionPanelAreTakenFromTheRunningApp)
{
    const QStringList wanted{"main-window.png", "settings.png", "caption-panel.png"};
    EXPECT_EQ(metainfoScreenshots(), wanted);

    const fs::path models = AppPaths::current().modelsDirectory();
    if (!fs::exists(models / "ggml-base.bin")) GTEST_SKIP() << "the default speech model is not installed";
    for (const char* tool : {"Xvfb", "xdotool", "import", "paplay"})
        if (QStandardPaths::findExecutable(QString::fromUtf8(tool)).isEmpty()) GTEST_SKIP() << tool << " is missing";
    test::qtApplication();
    test::PulseAudioServer sound;
    ASSERT_TRUE(sound.isRunning()) << sound.startError();
    XvfbServer x;
    ASSERT_FALSE(x.display().isEmpty()) << "no X server could be started";

    // A new user who has turned on the computer's sound and the caption panel, with one meeting today.
    test::TemporaryDirectory home;
    const fs::path config = home.path() / ".config";
    const fs::path data = home.path() / ".local/share";
    const fs::path stateFile = home.path() / "window-state.json";
    fs::create_directories(config / "transcription-corvane");
    fs::create_directories(data / "transcription-corvane/calendars");
    fs::create_symlink(models, data / "transcription-corvane/models");
    {
        QSettings settings(
            QString::fromStdString((config / "transcription-corvane/transcription-corvane.conf").string()),
            QSettings::IniFormat);
        for (const char* consent : {"consent/screenRecording", "consent/speechRecognition", "consent/calendar"})
            settings.setValue(consent, "granted");
        settings.setValue("optInSystemAudio", true);
        settings.setValue("liveCaptionOverlayVisible", true);
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString format = QStringLiteral("yyyyMMdd'T'HHmmss'Z'");
    std::ofstream(data / "transcription-corvane/calendars/work.ics", std::ios::binary)
        << QStringLiteral(
               "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//tc//screenshots//JA\r\nBEGIN:VEVENT\r\n"
               "UID:screenshots-meeting\r\nDTSTAMP:%1\r\nDTSTART:%2\r\nDTEND:%3\r\nSUMMARY:定例ミーティング\r\n"
               "END:VEVENT\r\nEND:VCALENDAR\r\n")
               .arg(now.toString(format), now.addSecs(-1800).toString(format), now.addSecs(1800).toString(format))
               .toStdString();
    const auto text = [](const fs::path& path) { return QString::fromStdString(path); };
    const auto environment = test::BuiltProgram::environment({{"HOME", text(home.path())},
                                                              {"XDG_CONFIG_HOME", text(config)},
                                                              {"XDG_DATA_HOME", text(data)},
                                                              {"XDG_CACHE_HOME", text(home.path() / ".cache")},
                                                              {"TC_WINDOW_STATE_FILE", text(stateFile)},
                                                              {"DISPLAY", x.display()},
                                                              {"QT_QPA_PLATFORM", "xcb"}});
    const auto runTool = [&](const QString& program, const QStringList& arguments, int milliseconds = 30000) {
        QProcess tool;
        tool.setProcessEnvironment(environment);
        tool.start(program, arguments);
        const bool done = tool.waitForFinished(milliseconds) && tool.exitCode() == 0;
        return std::make_pair(done, QString::fromUtf8(tool.readAllStandardOutput()).trimmed());
    };
    const fs::path pictures = test::binaryDir() / "screenshots";
    fs::create_directories(pictures);
    // The screen's pixels where a window is, as the user sees them.
    const auto shoot = [&](const QJsonObject& frame, const QString& name) {
        const QString crop = QStringLiteral("%1x%2+%3+%4")
                                 .arg(frame["width"].toInt())
                                 .arg(frame["height"].toInt())
                                 .arg(frame["x"].toInt())
                                 .arg(frame["y"].toInt());
        const QString file = text(pictures / name.toStdString());
        QImage picture;
        // Painting may trail the window's mapping: taken again until the picture is drawn.
        const bool drawn = QTest::qWaitFor(
            [&] {
                runTool("import", {"-window", "root", "-crop", crop, "+repage", "-strip", file});
                return picture.load(file) && looksDrawn(picture);
            },
            30000);
        EXPECT_TRUE(drawn) << name.toStdString() << " at " << crop.toStdString();
        return picture;
    };

    test::BuiltProgram app({}, environment);
    ASSERT_TRUE(QTest::qWaitFor([&] { return readJson(stateFile)["running"].toBool(); }, 60000)) << app.finish(0).err;
    EXPECT_TRUE(runTool("paplay", {"--device=out", text(test::sourceDir() / "samples/ja-sample.flac")}, 120000).first);
    // Most of the sample's lines and nothing half-heard, so the pictures show a settled transcript; recognition
    // may trail the playing on a loaded machine, and a few lines still make a picture.
    const auto settled = [&](qsizetype lines) {
        const QJsonObject state = readJson(stateFile);
        return state["rows"].toArray().size() >= lines && state["volatile"].toString().isEmpty();
    };
    (void)QTest::qWaitFor([&] { return settled(6); }, 60000);
    EXPECT_TRUE(QTest::qWaitFor([&] { return settled(3); }, 30000))
        << QJsonDocument(readJson(stateFile)).toJson().toStdString();

    const QJsonObject state = readJson(stateFile);
    ASSERT_TRUE(state["captionPanelVisible"].toBool());
    const QJsonObject window = state["window"].toObject();
    const QJsonObject panel = state["captionPanel"].toObject();
    // The panel floats where it would cover no part of the window's picture.
    ASSERT_FALSE(QRect(window["x"].toInt(), window["y"].toInt(), window["width"].toInt(), window["height"].toInt())
                     .intersects(QRect(panel["x"].toInt(), panel["y"].toInt(), panel["width"].toInt(),
                                       panel["height"].toInt())));
    const QImage main = shoot(window, "main-window.png");
    EXPECT_GE(main.width(), 760);
    shoot(panel, "caption-panel.png");

    // The settings, opened from the window with its key, as a user would.
    const auto [clicked, ignored] =
        runTool("xdotool", {"mousemove", QString::number(window["x"].toInt() + 300),
                            QString::number(window["y"].toInt() + 200), "click", "1", "key", "ctrl+comma"});
    EXPECT_TRUE(clicked);
    QString settingsWindow;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto [found, ids] = runTool("xdotool", {"search", "--onlyvisible", "--name", "^設定"});
            settingsWindow = found ? ids.section('\n', 0, 0) : QString();
            return !settingsWindow.isEmpty();
        },
        30000));
    const auto [measured, geometry] = runTool("xdotool", {"getwindowgeometry", "--shell", settingsWindow});
    ASSERT_TRUE(measured) << geometry.toStdString();
    QJsonObject settingsFrame;
    for (const QString& line : geometry.split('\n')) {
        const QString key = line.section('=', 0, 0).toLower();
        if (QStringList{"x", "y", "width", "height"}.contains(key)) settingsFrame[key] = line.section('=', 1).toInt();
    }
    // The model list fills in after the window shows; taken again once it has (it may have already).
    const QImage opened = shoot(settingsFrame, "settings.png");
    (void)QTest::qWaitFor([&] { return shoot(settingsFrame, "settings.png") != opened; }, 20000);

    app.process().terminate();
    EXPECT_EQ(app.finish(30000).status, 0);

    const char* update = std::getenv("TC_UPDATE_SCREENSHOTS");
    for (const QString& name : wanted) {
        const fs::path taken = pictures / name.toStdString();
        ASSERT_TRUE(fs::exists(taken)) << taken;
        // Small enough to ship in the source tree.
        EXPECT_LT(fs::file_size(taken), 400u * 1024u) << taken;
        const fs::path kept = test::sourceDir() / "data/screenshots" / name.toStdString();
        if (update != nullptr && std::string_view(update) == "1")
            fs::copy_file(taken, kept, fs::copy_options::overwrite_existing);
        EXPECT_TRUE(fs::exists(kept)) << "the metainfo shows a picture the source tree lacks: " << kept;
    }
}

} // namespace
} // namespace tc
