#include "TranscriptionCorvane/TranscriptionMainWindow.h"

#include "TranscriptionInfrastructure/CompositionRoot.h"
#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/settings/SettingsModel.h"
#include "TranscriptionUI/settings/SettingsWindow.h"

#include "support/QtTestApplication.h"
#include "support/ScriptedSpeechRecognitionEngine.h"
#include "support/ViewModelHarness.h"

#include <QAction>
#include <QTest>
#include <gtest/gtest.h>

#include <fstream>

namespace tc {
namespace {

TEST(TranscriptionMainWindow, SettingsOpenWithCtrlCommaAndAChosenLanguageModelAnswersTheNextQuestion)
{
    test::qtApplication();
    test::ViewModelHarness h;
    PreferencesStore defaults{h.dir.filePath("window.ini")};
    // The application's responder and language model; no speech model is needed for questions.
    const CompositionRoot root(EngineConfig{}, std::make_shared<test::ScriptedSpeechRecognitionEngine>());
    auto dependencies = h.dependencies();
    dependencies.responder = root.makeConversationResponder();
    dependencies.chooseLanguageModel = [root](const std::string& file) { root.chooseLanguageModel(file); };
    TranscriptionViewModel model(std::move(dependencies));
    TranscriptionMainWindow window(&model, &defaults, nullptr);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    EXPECT_TRUE(window.settingsAction()->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_Comma)));
    QTest::keyClick(&window, Qt::Key_Comma, Qt::ControlModifier);
    auto* settings = window.findChild<SettingsWindow*>();
    ASSERT_NE(settings, nullptr);
    EXPECT_TRUE(settings->isVisible());
    EXPECT_EQ(settings->windowTitle(), "設定");

    // No restart: the question feature's note names the newly chosen file.
    const auto notes = std::filesystem::path(h.dir.filePath("notes.gguf").toStdString());
    std::ofstream(notes) << "not a model at all";
    settings->model()->chooseLanguageModel(QString::fromStdString(notes.string()));
    QTRY_VERIFY(model.conversationNote().find("notes.gguf は GGUF 形式のモデルではない") != std::string::npos);
    settings->model()->resetLanguageModel();
    const auto installed = CompositionRoot::installedLanguageModelFile().filename().string();
    QTRY_VERIFY(model.conversationNote().find(installed) != std::string::npos);
}

} // namespace
} // namespace tc
