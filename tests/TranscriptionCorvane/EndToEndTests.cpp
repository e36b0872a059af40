// Runs the real application on a private X server and a private sound server, plays Japanese speech into
// the computer's output and checks what the window, the caption panel and the history file show.

#include "TranscriptionInfrastructure/settings/AppPaths.h"

#include "support/PulseAudioServer.h"
#include "support/QtTestApplication.h"
#include "support/SpeechSamples.h"
#include "support/TemporaryDirectory.h"
#include "support/TestPaths.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QUuid>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace tc {
namespace {

namespace fs = std::filesystem;

QJsonObject readJson(const fs::path& file)
{
    QFile in(QString::fromStdString(file.string()));
    if (!in.open(QIODevice::ReadOnly)) return {};
    return QJsonDocument::fromJson(in.readAll()).object();
}

// A private X server on a free display number, stopped with the test.
class XvfbServer {
public:
    XvfbServer()
    {
        for (int number = 91; number < 120; ++number) {
            if (fs::exists("/tmp/.X11-unix/X" + std::to_string(number)) ||
                fs::exists("/tmp/.X" + std::to_string(number) + "-lock"))
                continue;
            m_display = QStringLiteral(":%1").arg(number);
            m_process.setProgram(QStringLiteral("Xvfb"));
            m_process.setArguments({m_display, QStringLiteral("-screen"), QStringLiteral("0"),
                                    QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
            m_process.start();
            const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
            if (m_process.waitForStarted(5000) &&
                QTest::qWaitFor([&] { return fs::exists(socket) || m_process.state() != QProcess::Running; }, 10000) &&
                m_process.state() == QProcess::Running)
                return;
            m_process.kill();
            m_process.waitForFinished(3000);
        }
        m_display.clear();
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

class EndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::qtApplication(); }

    void SetUp() override
    {
        m_models = AppPaths::current().modelsDirectory();
        if (!fs::exists(m_models / "ggml-base.bin")) GTEST_SKIP() << "the default speech model is not installed";
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()) GTEST_SKIP() << "Xvfb is missing";
        m_artifacts = test::binaryDir() / "test-artifacts/end-to-end";
        fs::create_directories(m_artifacts);
    }

    QString screenshot(const QString& display, const std::string& name, const QJsonObject& frame = {})
    {
        const QString file = QString::fromStdString((m_artifacts / name).string());
        QStringList arguments{QStringLiteral("-display"), display, QStringLiteral("-window"), QStringLiteral("root")};
        if (!frame.isEmpty())
            arguments << QStringLiteral("-crop")
                      << QStringLiteral("%1x%2+%3+%4")
                             .arg(frame["width"].toInt())
                             .arg(frame["height"].toInt())
                             .arg(frame["x"].toInt())
                             .arg(frame["y"].toInt());
        arguments << file;
        QProcess::execute(QStringLiteral("import"), arguments);
        return file;
    }

    fs::path m_models;
    fs::path m_artifacts;
};

TEST_F(EndToEnd, SystemAudioSpeechBecomesLinesInTheWindowTheCaptionsAndTheHistory)
{
    test::PulseAudioServer sound;
    ASSERT_TRUE(sound.isRunning()) << sound.startError();
    XvfbServer x;
    ASSERT_FALSE(x.display().isEmpty()) << "no X server could be started";

    // A fresh user: own home and XDG folders, the real models, consent to system audio and the calendar
    // given, the caption panel on.
    test::TemporaryDirectory home;
    const fs::path config = home.path() / ".config";
    const fs::path data = home.path() / ".local/share";
    fs::create_directories(config / "transcription-corvane");
    fs::create_directories(data / "transcription-corvane/calendars");
    fs::create_symlink(m_models, data / "transcription-corvane/models");
    {
        QSettings settings(
            QString::fromStdString((config / "transcription-corvane/transcription-corvane.conf").string()),
            QSettings::IniFormat);
        settings.setValue("consent/screenRecording", "granted");
        settings.setValue("consent/speechRecognition", "granted");
        settings.setValue("consent/calendar", "granted");
        settings.setValue("optInSystemAudio", true);
        settings.setValue("liveCaptionOverlayVisible", true);
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    {
        QFile ics(QString::fromStdString((data / "transcription-corvane/calendars/work.ics").string()));
        ASSERT_TRUE(ics.open(QIODevice::WriteOnly));
        const QString format = QStringLiteral("yyyyMMdd'T'HHmmss'Z'");
        ics.write(
            QStringLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//tc//e2e//JA\r\nBEGIN:VEVENT\r\n"
                           "UID:e2e-meeting\r\nDTSTAMP:%1\r\nDTSTART:%2\r\nDTEND:%3\r\nSUMMARY:定例ミーティング\r\n"
                           "END:VEVENT\r\nEND:VCALENDAR\r\n")
                .arg(now.toString(format), now.addSecs(-1800).toString(format), now.addSecs(1800).toString(format))
                .toUtf8());
    }

    const fs::path stateFile = home.path() / "window-state.json";
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", QString::fromStdString(home.path().string()));
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString(config.string()));
    environment.insert("XDG_DATA_HOME", QString::fromStdString(data.string()));
    environment.insert("XDG_CACHE_HOME", QString::fromStdString((home.path() / ".cache").string()));
    environment.insert("DISPLAY", x.display());
    environment.insert("QT_QPA_PLATFORM", "xcb");
    environment.remove("WAYLAND_DISPLAY");
    environment.insert("TC_WINDOW_STATE_FILE", QString::fromStdString(stateFile.string()));

    QProcess app;
    app.setProcessEnvironment(environment);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.setProgram(QString::fromStdString((test::binaryDir() / "src/transcription-corvane").string()));
    app.start();
    ASSERT_TRUE(app.waitForStarted(10000));

    ASSERT_TRUE(QTest::qWaitFor([&] { return readJson(stateFile)["running"].toBool(); }, 60000))
        << "transcription did not start";

    QProcess player;
    player.setProcessEnvironment(environment);
    player.start(QStringLiteral("paplay"),
                 {QStringLiteral("--device=out"),
                  QString::fromStdString((test::dataDir() / "speech/conversation.flac").string())});
    ASSERT_TRUE(player.waitForStarted(5000));
    const std::vector<test::SpeechTurn> turns = test::conversationTurns();
    // Playing takes as long as the conversation; recognition may trail behind it.
    EXPECT_TRUE(player.waitForFinished(120000));
    // May time out with fewer lines; the counts are checked below.
    (void)QTest::qWaitFor(
        [&] { return readJson(stateFile)["rows"].toArray().size() >= static_cast<qsizetype>(turns.size()); }, 60000);
    QTest::qWait(3000);

    const QJsonObject live = readJson(stateFile);
    const QJsonArray rows = live["rows"].toArray();
    EXPECT_GE(rows.size(), static_cast<qsizetype>(turns.size() / 2)) << QJsonDocument(live).toJson().toStdString();
    ASSERT_FALSE(rows.isEmpty());
    QString shown;
    for (const auto& row : rows) {
        EXPECT_EQ(row.toObject()["time"].toString().size(), 8);
        shown += row.toObject()["text"].toString();
    }
    int recognised = 0;
    for (const char* word : {"田中", "打ち合わせ", "大丈夫", "午前", "時間"})
        if (shown.contains(QString::fromUtf8(word))) ++recognised;
    EXPECT_GE(recognised, 2) << shown.toStdString();

    // The caption panel shows the latest line.
    EXPECT_TRUE(live["captionPanelVisible"].toBool());
    const QJsonArray captions = live["captions"].toArray();
    ASSERT_FALSE(captions.isEmpty());
    const QString lastCaption = captions.last().toObject()["text"].toString();
    const QString volatileText = live["volatile"].toString();
    EXPECT_TRUE(lastCaption == rows.last().toObject()["text"].toString() || lastCaption == volatileText)
        << lastCaption.toStdString();

    screenshot(x.display(), "screen-live.png");
    screenshot(x.display(), "main-window-live.png", live["window"].toObject());
    screenshot(x.display(), "caption-overlay.png", live["captionPanel"].toObject());

    // Browsing: the calendar's event lists the lines spoken during it.
    const QJsonArray events = live["events"].toArray();
    ASSERT_EQ(events.size(), 1) << QJsonDocument(live).toJson().toStdString();
    const QJsonObject event = events[0].toObject();
    EXPECT_EQ(event["title"].toString(), QStringLiteral("定例ミーティング"));
    EXPECT_TRUE(event["hasLines"].toBool());
    QProcess click;
    click.setProcessEnvironment(environment);
    click.start(QStringLiteral("xdotool"),
                {QStringLiteral("mousemove"), QString::number(event["x"].toInt() + event["width"].toInt() / 2),
                 QString::number(event["y"].toInt() + event["height"].toInt() / 2), QStringLiteral("click"),
                 QStringLiteral("1")});
    EXPECT_TRUE(click.waitForFinished(10000));
    // A bound against a hang only: a loaded machine may take seconds to handle the click.
    EXPECT_TRUE(QTest::qWaitFor([&] { return readJson(stateFile)["browsing"].toBool(); }, 30000));
    const QJsonObject browsing = readJson(stateFile);
    EXPECT_EQ(browsing["browsingRows"].toArray().size(), rows.size());
    screenshot(x.display(), "main-window-browsing.png", browsing["window"].toObject());

    // Quitting from the window (Ctrl+Q, as the window's own quit) keeps every line.
    const QJsonObject window = browsing["window"].toObject();
    QProcess quit;
    quit.setProcessEnvironment(environment);
    quit.start(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QString::number(window["x"].toInt() + 200),
                                           QString::number(window["y"].toInt() + 300), QStringLiteral("click"),
                                           QStringLiteral("1"), QStringLiteral("key"), QStringLiteral("ctrl+q")});
    EXPECT_TRUE(quit.waitForFinished(10000));
    if (!app.waitForFinished(20000)) {
        ADD_FAILURE() << "the window's quit did not end the application";
        app.terminate();
        ASSERT_TRUE(app.waitForFinished(20000));
    }
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);

    const QJsonObject history = readJson(data / "transcription-corvane/history.json");
    EXPECT_EQ(history["version"].toInt(), 2);
    const QJsonArray sessions = history["sessions"].toArray();
    ASSERT_EQ(sessions.size(), 1);
    const QJsonObject session = sessions[0].toObject();
    EXPECT_FALSE(QUuid::fromString(session["id"].toString()).isNull());
    EXPECT_EQ(session["id"].toString(), session["id"].toString().toUpper());
    EXPECT_TRUE(session["startedAt"].isDouble());
    EXPECT_TRUE(session["endedAt"].isDouble()) << "a session closed by quitting has its end";
    const QJsonArray lines = session["lines"].toArray();
    const QJsonArray finalRows = browsing["rows"].toArray();
    ASSERT_EQ(lines.size(), finalRows.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QJsonObject line = lines[i].toObject();
        // A live line keeps where the session heard it; with one source on, it names no speaker.
        EXPECT_EQ(line.keys(), (QStringList{"end", "id", "start", "text", "time"}));
        EXPECT_GE(line["start"].toDouble(), 0.0);
        EXPECT_GT(line["end"].toDouble(), line["start"].toDouble());
        EXPECT_EQ(line["text"].toString(), finalRows[i].toObject()["text"].toString());
        EXPECT_GE(line["time"].toDouble(), session["startedAt"].toDouble());
    }

    // A second launch starts a new session beside the first; SIGTERM ends it without losing its line.
    QFile::remove(QString::fromStdString(stateFile.string()));
    QProcess second;
    second.setProcessEnvironment(environment);
    second.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    second.setProgram(app.program());
    second.start();
    ASSERT_TRUE(second.waitForStarted(10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return readJson(stateFile)["running"].toBool(); }, 60000));
    QProcess utterance;
    utterance.setProcessEnvironment(environment);
    utterance.start(QStringLiteral("paplay"),
                    {QStringLiteral("--device=out"),
                     QString::fromStdString((test::dataDir() / "speech/utterances/s05.flac").string())});
    EXPECT_TRUE(utterance.waitForFinished(30000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !readJson(stateFile)["rows"].toArray().isEmpty(); }, 30000));
    const QJsonArray secondRows = readJson(stateFile)["rows"].toArray();
    second.terminate();
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);

    const QJsonArray both = readJson(data / "transcription-corvane/history.json")["sessions"].toArray();
    ASSERT_EQ(both.size(), 2);
    EXPECT_EQ(both[1].toObject()["id"], session["id"]) << "the earlier session follows the current one";
    EXPECT_EQ(both[1].toObject()["lines"].toArray().size(), lines.size());
    EXPECT_EQ(both[0].toObject()["lines"].toArray().size(), secondRows.size());
    EXPECT_TRUE(both[0].toObject()["endedAt"].isDouble());
}

} // namespace
} // namespace tc
