// Runs the real application on a private X server and a private sound server, plays Japanese speech into
// the computer's output and checks what the window, the caption panel and the history file show.

#include "TranscriptionInfrastructure/settings/AppPaths.h"

#include "support/AppUnderXvfb.h"
#include "support/SpeechSamples.h"
#include "support/TestPaths.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <gtest/gtest.h>

namespace tc {
namespace {

namespace fs = std::filesystem;
using test::AppUnderXvfb;

TEST(EndToEnd, SystemAudioSpeechBecomesLinesInTheWindowTheCaptionsAndTheHistory)
{
    if (!fs::exists(AppPaths::current().modelsDirectory() / "ggml-base.bin"))
        GTEST_SKIP() << "the default speech model is not installed";
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()) GTEST_SKIP() << "Xvfb is missing";
    // A fresh user with a meeting now in a local calendar.
    AppUnderXvfb app({.meetingNow = true});
    ASSERT_EQ(app.startError(), "");
    const auto click = [&](int left, int top, const QStringList& then = {}) {
        return app
            .run("xdotool", QStringList{"mousemove", QString::number(left), QString::number(top), "click", "1"} + then,
                 10000)
            .has_value();
    };

    ASSERT_TRUE(app.launch()) << app.program().finish(0).err;
    // Playing takes as long as the conversation; recognition may trail behind it.
    EXPECT_TRUE(app.play(test::dataDir() / "speech/conversation.flac", 120000));
    const std::vector<test::SpeechTurn> turns = test::conversationTurns();
    // Every turn a line and nothing left half-heard: the checks below need a transcript that has stopped growing.
    // May time out with fewer lines; the counts are checked below.
    (void)app.waitForState(
        [&](const QJsonObject& state) {
            return state["rows"].toArray().size() >= static_cast<qsizetype>(turns.size()) &&
                   state["volatile"].toString().isEmpty();
        },
        60000);

    const QJsonObject live = app.state();
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
    EXPECT_TRUE(app.waitForState([](const QJsonObject& state) { return state["browsing"].toBool(); }, 30000));
    const QJsonObject browsing = app.state();
    EXPECT_EQ(browsing["browsingRows"].toArray().size(), rows.size());

    // Quitting from the window (Ctrl+Q, as the window's own quit) keeps every line.
    const QJsonObject window = browsing["window"].toObject();
    EXPECT_TRUE(click(window["x"].toInt() + 200, window["y"].toInt() + 300, {"key", "ctrl+q"}));
    const auto quit = app.program().finish(20000);
    EXPECT_EQ(quit.status, 0) << "the window's quit did not end the application: " << quit.err;

    const QJsonObject history = AppUnderXvfb::readJson(app.historyFile());
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
    ASSERT_TRUE(app.launch()) << app.program().finish(0).err;
    EXPECT_TRUE(app.play(test::dataDir() / "speech/utterances/s05.flac", 30000));
    EXPECT_TRUE(app.waitForState([](const QJsonObject& state) { return !state["rows"].toArray().isEmpty(); }, 30000));
    const QJsonArray secondRows = app.state()["rows"].toArray();
    app.program().process().terminate();
    const auto terminated = app.program().finish(20000);
    EXPECT_EQ(terminated.status, 0) << terminated.err;

    const QJsonArray both = AppUnderXvfb::readJson(app.historyFile())["sessions"].toArray();
    ASSERT_EQ(both.size(), 2);
    EXPECT_EQ(both[1].toObject()["id"], session["id"]) << "the earlier session follows the current one";
    EXPECT_EQ(both[1].toObject()["lines"].toArray().size(), lines.size());
    EXPECT_EQ(both[0].toObject()["lines"].toArray().size(), secondRows.size());
    EXPECT_TRUE(both[0].toObject()["endedAt"].isDouble());
}

} // namespace
} // namespace tc
