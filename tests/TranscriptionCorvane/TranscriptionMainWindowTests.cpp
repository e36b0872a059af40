#include "TranscriptionCorvane/TranscriptionMainWindow.h"

#include "TranscriptionInfrastructure/CompositionRoot.h"
#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/settings/SettingsModel.h"
#include "TranscriptionUI/settings/SettingsWindow.h"

#include "support/ScriptedSpeechRecognitionEngine.h"
#include "support/ViewModelHarness.h"

#include <QLabel>
#include <QTest>
#include <QGuiApplication>
#include <QScreen>

#include <gtest/gtest.h>

#include <fstream>

namespace tc {
namespace {

// What the settings change reaches the model at once: a language model answers the next question, and a device
// chosen while transcribing restarts the run and keeps its lines.
TEST(TranscriptionMainWindow, SettingsOpenWithCtrlCommaAndTheirChoicesTakeEffectWithoutARestart)
{
    test::qtApplication();
    test::ViewModelHarness h;
    PreferencesStore defaults{h.dir.filePath("window.ini")};
    h.settings->setValue("optInMic", true);
    h.permissions->grantAll();
    // The application's responder and language model; no speech model is needed for questions.
    const CompositionRoot root(EngineConfig{}, std::make_shared<test::ScriptedSpeechRecognitionEngine>());
    auto dependencies = h.dependencies();
    dependencies.responder = root.makeConversationResponder();
    dependencies.chooseLanguageModel = [root](const std::string& file) { root.chooseLanguageModel(file); };
    TranscriptionViewModel model(std::move(dependencies));
    TranscriptionMainWindow window(&model, &defaults, nullptr);
    // In the middle of the test screen, so the settings (larger than the window) have room on every side.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QRect frame(0, 0, TranscriptionMainWindow::minimumWidth, TranscriptionMainWindow::minimumHeight + 40);
    frame.moveCenter(screen.center());
    window.setGeometry(frame);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    QTest::keyClick(&window, Qt::Key_Comma, Qt::ControlModifier);
    auto* settings = window.findChild<SettingsWindow*>();
    ASSERT_NE(settings, nullptr);
    EXPECT_TRUE(settings->isVisible());
    // Centred over the window it was opened from.
    const QPoint offset = settings->frameGeometry().center() - window.frameGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 4) << offset.x() << ", " << offset.y();
    const auto notes = std::filesystem::path(h.dir.filePath("notes.gguf").toStdString());
    std::ofstream(notes) << "not a model at all";
    settings->model()->chooseLanguageModel(QString::fromStdString(notes.string()));
    const auto noteNames = [&](const std::string& text) {
        return QTest::qWaitFor([&] { return model.conversationAsking().note().find(text) != std::string::npos; }, 30000);
    };
    EXPECT_TRUE(noteNames("notes.gguf は GGUF 形式のモデルではない")) << model.conversationAsking().note();
    // Under the question field the note is one short line; the whole of it is its tooltip.
    const QString fullNote = QString::fromStdString(model.conversationAsking().note());
    QLabel* note = nullptr;
    for (QLabel* label : window.findChildren<QLabel*>())
        if (label->toolTip() == fullNote) note = label;
    ASSERT_NE(note, nullptr);
    EXPECT_FALSE(note->wordWrap());
    EXPECT_LT(note->text().size(), 30) << note->text().toStdString();
    EXPECT_TRUE(fullNote.startsWith(note->text().chopped(2))) << note->text().toStdString();
    settings->model()->resetLanguageModel();
    const auto installed = CompositionRoot::installedLanguageModelFile().filename().string();
    EXPECT_TRUE(noteNames(installed)) << model.conversationAsking().note();

    const auto& run = model.runControl();
    model.bootstrap([] {});
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.isRunning(); }, 30000));
    ASSERT_TRUE(h.waitForRecognition(0));
    h.pipelines()[0].transcriber->emitSegment("前の行", true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.sessionTranscript().lines().size() == 1; }, 30000));
    const auto generation = run.runGeneration();
    defaults.setValue(SettingsModel::microphoneKey, QStringLiteral("alsa_input.usb-headset"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return run.runGeneration() > generation && run.isRunning(); }, 30000));
    EXPECT_EQ(model.sessionTranscript().lines().size(), 1u) << "the session goes on";
}

} // namespace
} // namespace tc
