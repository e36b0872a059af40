// Runs the real application on a private X server and a private sound server, plays Japanese speech into
// the computer's output and checks what the window, the caption panel and the history file show.

#include "TranscriptionInfrastructure/settings/AppPaths.h"

#include "support/BuiltProgram.h"
#include "support/PulseAudioServer.h"
#include "support/QtTestApplication.h"
#include "support/SpeechSamples.h"
#include "support/TemporaryDirectory.h"
#include "support/TestPaths.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <fstream>
#include <gtest/gtest.h>

namespace tc {
namespace {

namespace fs = std::filesystem;

QJsonObject readJson(const fs::path& file)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(test::readText(file))).object();
}

// A private X server, stopped with the test; it takes a free display number itself and tells it once ready.
class XvfbServer {
public:
    XvfbServer()
    {
        m_process.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
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

TEST(EndToEnd, SystemAudioSpeechBecomesLinesInTheWindowTheCaptionsAndTheHistory)
{
    const fs::path models = AppPaths::current().modelsDirectory();
    if (!fs::exists(models / "ggml-base.bin")) GTEST_SKIP() << "the default speech model is not installed";
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()) GTEST_SKIP() << "Xvfb is missing";
    test::qtApplication();
    test::PulseAudioServer sound;
    ASSERT_TRUE(sound.isRunning()) << sound.startError();
    XvfbServer x;
    ASSERT_FALSE(x.display().isEmpty()) << "no X server could be started";

    // A fresh user: own home and XDG folders, the real models, consent to system audio and the calendar
    // given, the caption panel on.
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
        << QStringLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//tc//e2e//JA\r\nBEGIN:VEVENT\r\n"
                          "UID:e2e-meeting\r\nDTSTAMP:%1\r\nDTSTART:%2\r\nDTEND:%3\r\nSUMMARY:定例ミーティング\r\n"
                          "END:VEVENT\r\nEND:VCALENDAR\r\n")
               .arg(now.toString(format), now.addSecs(-1800).toString(format), now.addSecs(1800).toString(format))
               .toStdString();
    // Taken after the sound server started, which points this process at itself.
    const auto text = [](const fs::path& path) { return QString::fromStdString(path); };
    const auto environment = test::BuiltProgram::environment({{"HOME", text(home.path())},
                                                              {"XDG_CONFIG_HOME", text(config)},
                                                              {"XDG_DATA_HOME", text(data)},
                                                              {"XDG_CACHE_HOME", text(home.path() / ".cache")},
                                                              {"TC_WINDOW_STATE_FILE", text(stateFile)},
                                                              {"DISPLAY", x.display()},
                                                              {"QT_QPA_PLATFORM", "xcb"}});
    // The player and the pointer run as the user's session would, to their end.
    const auto runTool = [&](const QString& program, const QStringList& arguments, int milliseconds = 10000) {
        QProcess tool;
        tool.setProcessEnvironment(environment);
        tool.start(program, arguments);
        return tool.waitForFinished(milliseconds);
    };
    const auto play = [&](const std::string& sample, int milliseconds) {
        return runTool("paplay", {"--device=out", text(test::dataDir() / sample)}, milliseconds);
    };
    const auto click = [&](int left, int top, const QStringList& then = {}) {
        return runTool("xdotool",
                       QStringList{"mousemove", QString::number(left), QString::number(top), "click", "1"} + then);
    };
    const auto transcribing = [&] {
        return QTest::qWaitFor([&] { return readJson(stateFile)["running"].toBool(); }, 60000);
    };

    test::BuiltProgram app({}, environment);
    ASSERT_TRUE(transcribing()) << app.finish(0).err;
    // Playing takes as long as the conversation; recognition may trail behind it.
    EXPECT_TRUE(play("speech/conversation.flac", 120000));
    const std::vector<test::SpeechTurn> turns = test::conversationTurns();
    // Every turn a line and nothing left half-heard: the checks below need a transcript that has stopped growing.
    // May time out with fewer lines; the counts are checked below.
    (void)QTest::qWaitFor(
        [&] {
            const QJsonObject state = readJson(stateFile);
            return state["rows"].toArray().size() >= static_cast<qsizetype>(turns.size()) &&
                   state["volatile"].toString().isEmpty();
        },
        60000);

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
        recognised += shown.contains(QString::fromUtf8(word)) ? 1 : 0;
    EXPECT_GE(recognised, 2) << shown.toStdString();

    // The caption panel shows the latest line.
    EXPECT_TRUE(live["captionPanelVisible"].toBool());
    const QJsonArray captions = live["captions"].toArray();
    ASSERT_FALSE(captions.isEmpty());
    const QString lastCaption = captions.last().toObject()["text"].toString();
    EXPECT_TRUE(lastCaption == rows.last().toObject()["text"].toString() || lastCaption == live["volatile"].toString())
        << lastCaption.toStdString();

    // Browsing: the calendar's event lists the lines spoken during it.
    const QJsonArray events = live["events"].toArray();
    ASSERT_EQ(events.size(), 1) << QJsonDocument(live).toJson().toStdString();
    const QJsonObject event = events[0].toObject();
    EXPECT_EQ(event["title"].toString(), QStringLiteral("定例ミーティング"));
    EXPECT_TRUE(event["hasLines"].toBool());
    EXPECT_TRUE(
        click(event["x"].toInt() + event["width"].toInt() / 2, event["y"].toInt() + event["height"].toInt() / 2));
    // A bound against a hang only: a loaded machine may take seconds to handle the click.
    EXPECT_TRUE(QTest::qWaitFor([&] { return readJson(stateFile)["browsing"].toBool(); }, 30000));
    const QJsonObject browsing = readJson(stateFile);
    EXPECT_EQ(browsing["browsingRows"].toArray().size(), rows.size());

    // Quitting from the window (Ctrl+Q, as the window's own quit) keeps every line.
    const QJsonObject window = browsing["window"].toObject();
    EXPECT_TRUE(click(window["x"].toInt() + 200, window["y"].toInt() + 300, {"key", "ctrl+q"}));
    const auto quit = app.finish(20000);
    EXPECT_EQ(quit.status, 0) << "the window's quit did not end the application: " << quit.err;

    const QJsonObject history = readJson(data / "transcription-corvane/history.json");
    const QJsonArray sessions = history["sessions"].toArray();
    ASSERT_EQ(sessions.size(), 1);
    const QJsonObject session = sessions[0].toObject();
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
    fs::remove(stateFile);
    test::BuiltProgram second({}, environment);
    ASSERT_TRUE(transcribing()) << second.finish(0).err;
    EXPECT_TRUE(play("speech/utterances/s05.flac", 30000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !readJson(stateFile)["rows"].toArray().isEmpty(); }, 30000));
    const QJsonArray secondRows = readJson(stateFile)["rows"].toArray();
    second.process().terminate();
    const auto terminated = second.finish(20000);
    EXPECT_EQ(terminated.status, 0) << terminated.err;

    const QJsonArray both = readJson(data / "transcription-corvane/history.json")["sessions"].toArray();
    ASSERT_EQ(both.size(), 2);
    EXPECT_EQ(both[1].toObject()["id"], session["id"]) << "the earlier session follows the current one";
    EXPECT_EQ(both[1].toObject()["lines"].toArray().size(), lines.size());
    EXPECT_EQ(both[0].toObject()["lines"].toArray().size(), secondRows.size());
    EXPECT_TRUE(both[0].toObject()["endedAt"].isDouble());
}

} // namespace
} // namespace tc
