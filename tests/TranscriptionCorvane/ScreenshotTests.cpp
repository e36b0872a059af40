// Takes the screenshots the AppStream metainfo shows: the real application on a private X server, transcribing the
// bundled sample played into a private sound server, for a new user with a temporary home.
// With TC_UPDATE_SCREENSHOTS=1 the pictures also replace the ones in data/screenshots.

#include "TranscriptionInfrastructure/settings/AppPaths.h"

#include "support/AppUnderXvfb.h"
#include "support/TestPaths.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

namespace tc {
namespace {

namespace fs = std::filesystem;
using test::AppUnderXvfb;

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

    if (!fs::exists(AppPaths::current().modelsDirectory() / "ggml-base.bin"))
        GTEST_SKIP() << "the default speech model is not installed";
    for (const char* tool : {"Xvfb", "xdotool", "import", "paplay"})
        if (QStandardPaths::findExecutable(QString::fromUtf8(tool)).isEmpty()) GTEST_SKIP() << tool << " is missing";
    // A new user who has turned on the computer's sound and the caption panel, with one meeting today.
    test::AppUnderXvfb app({.screen = {1600, 1000}, .meetingNow = true});
    ASSERT_EQ(app.startError(), "");
    const fs::path pictures = test::binaryDir() / "screenshots";
    fs::create_directories(pictures);
    // The screen's pixels where a window is, as the user sees them.
    const auto shoot = [&](const QJsonObject& frame, const QString& name) {
        QImage picture;
        // Painting may trail the window's mapping: taken again until the picture is drawn.
        const bool drawn = QTest::qWaitFor(
            [&] {
                return looksDrawn(picture = app.screenshot(pictures / name.toStdString(), AppUnderXvfb::rectOf(frame)));
            },
            30000);
        EXPECT_TRUE(drawn) << name.toStdString() << " at " << QJsonDocument(frame).toJson().toStdString();
        return picture;
    };

    ASSERT_TRUE(app.launch()) << app.program().finish(0).err;
    EXPECT_TRUE(app.play(test::sourceDir() / "samples/ja-sample.flac", 120000));
    // Most of the sample's lines and nothing half-heard, so the pictures show a settled transcript; recognition
    // may trail the playing on a loaded machine, and a few lines still make a picture.
    const auto settled = [](qsizetype lines) {
        return [lines](const QJsonObject& state) {
            return state["rows"].toArray().size() >= lines && state["volatile"].toString().isEmpty();
        };
    };
    (void)app.waitForState(settled(6), 60000);
    EXPECT_TRUE(app.waitForState(settled(3), 30000)) << QJsonDocument(app.state()).toJson().toStdString();

    const QJsonObject state = app.state();
    ASSERT_TRUE(state["captionPanelVisible"].toBool());
    const QJsonObject window = state["window"].toObject();
    const QJsonObject panel = state["captionPanel"].toObject();
    // The panel floats where it would cover no part of the window's picture.
    ASSERT_FALSE(AppUnderXvfb::rectOf(window).intersects(AppUnderXvfb::rectOf(panel)));
    const QImage main = shoot(window, "main-window.png");
    EXPECT_GE(main.width(), 760);
    shoot(panel, "caption-panel.png");

    // The settings, opened from the window with its key, as a user would.
    EXPECT_TRUE(app.run("xdotool", {"mousemove", QString::number(window["x"].toInt() + 300),
                                    QString::number(window["y"].toInt() + 200), "click", "1", "key", "ctrl+comma"}));
    QString settingsWindow;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            settingsWindow = app.run("xdotool", {"search", "--onlyvisible", "--name", "^設定"})
                                 .value_or(QString())
                                 .section('\n', 0, 0);
            return !settingsWindow.isEmpty();
        },
        30000));
    const auto geometry = app.run("xdotool", {"getwindowgeometry", "--shell", settingsWindow});
    ASSERT_TRUE(geometry);
    QJsonObject settingsFrame;
    for (const QString& line : geometry->split('\n')) {
        const QString key = line.section('=', 0, 0).toLower();
        if (QStringList{"x", "y", "width", "height"}.contains(key)) settingsFrame[key] = line.section('=', 1).toInt();
    }
    // The model list fills in after the window shows; taken again once it has (it may have already).
    const QImage opened = shoot(settingsFrame, "settings.png");
    (void)QTest::qWaitFor([&] { return shoot(settingsFrame, "settings.png") != opened; }, 20000);

    app.program().process().terminate();
    EXPECT_EQ(app.program().finish(30000).status, 0);

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
