#include "TranscriptionUI/settings/SettingsWindow.h"

#include "TranscriptionInfrastructure/CompositionRoot.h"
#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"
#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayController.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayPanel.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayView.h"
#include "TranscriptionUI/settings/SettingsModel.h"

#include "support/QtTestApplication.h"
#include "support/TemporaryDirectory.h"
#include "support/TestPaths.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include <map>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>

namespace tc {
namespace {

// The installer's contract without its child process: an install reports half its bytes, then waits for the
// test's finish() or the window's cancel. Callbacks come on the caller's thread, which the contract allows; the
// first listing runs on the model's worker before the test changes anything.
class FakeInstaller {
public:
    explicit FakeInstaller(std::vector<SpeechModelEntry> entries) : m_entries(std::move(entries)) {}
    std::vector<SpeechModelEntry> models() const { return m_entries; }
    bool install(const std::string& name, const SpeechModelInstaller::ProgressCallback& onProgress,
                 SpeechModelInstaller::DoneCallback onDone)
    {
        if (m_onDone) return false;
        m_name = name;
        m_onDone = std::move(onDone);
        onProgress({entry(name).bytes / 2, entry(name).bytes, "ダウンロード中"});
        return true;
    }
    void cancel() { end(false); }
    void finish() { end(true); }
    Expected<void, std::string> remove(const std::string& name)
    {
        entry(name).installed = false;
        return {};
    }

private:
    void end(bool finished)
    {
        if (!m_onDone) return;
        entry(m_name).installed = finished;
        std::exchange(m_onDone, {})(finished
                                        ? Expected<void, std::string>()
                                        : Expected<void, std::string>(Unexpected{std::string("キャンセルしました")}));
    }
    SpeechModelEntry& entry(const std::string& name)
    {
        return *std::find_if(m_entries.begin(), m_entries.end(), [&](const auto& e) { return e.name == name; });
    }

    std::vector<SpeechModelEntry> m_entries;
    std::string m_name;
    SpeechModelInstaller::DoneCallback m_onDone;
};

class SettingsWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::qtApplication();
        m_deps.speechModels = [this] { return m_installer.models(); };
        m_deps.installSpeechModel = [this](const std::string& name, auto onProgress, auto onDone) {
            return m_installer.install(name, std::move(onProgress), std::move(onDone));
        };
        m_deps.cancelInstall = [this] { m_installer.cancel(); };
        m_deps.removeSpeechModel = [this](const std::string& name) { return m_installer.remove(name); };
        m_deps.defaultSpeechModel = "base";
        // Figures of our own, so that a new benchmark run does not change what this test expects.
        const auto figures = m_dir.path() / "figures.json";
        std::ofstream(figures) << R"({"models": {"base": {"cer": 0.123, "finalLatencySeconds": 0.9}}})";
        m_deps.figures = SettingsModel::readFigures(figures);
        m_deps.defaultLanguageModelFile = CompositionRoot::installedLanguageModelFile();
        m_deps.historyFolder = m_dir.path();
        m_deps.sessionCount = [] { return std::size_t{3}; };
        m_deps.resetCaptionPosition = [this] { m_captions.resetFrame(); };
    }

    // The window over m_deps as they are when it is first asked for.
    SettingsWindow& window()
    {
        if (!m_window) {
            m_model = std::make_unique<SettingsModel>(&m_defaults, m_deps);
            m_window = std::make_unique<SettingsWindow>(m_model.get());
            m_window->show();
        }
        return *m_window;
    }

    template <class T>
    T* child(const char* name)
    {
        auto* found = window().findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    // Picks a file in one of the window's file dialogs, as a user would.
    void pickFile(const char* button, const char* dialogName, const std::filesystem::path& file)
    {
        QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton);
        auto* dialog = window().findChild<QFileDialog*>(dialogName);
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->isVisible(); }));
        dialog->selectFile(QString::fromStdString(file.string()));
        static_cast<QDialog*>(dialog)->accept(); // QFileDialog's own accept() is protected
    }

    QTreeWidgetItem* row(const QString& name)
    {
        const auto items = child<QTreeWidget>("speechModelList")->findItems(name, Qt::MatchExactly, 0);
        return items.isEmpty() ? nullptr : items.front();
    }

    test::TemporaryDirectory m_dir;
    PreferencesStore m_defaults{QString::fromStdString((m_dir.path() / "settings.ini").string())};
    LiveCaptionOverlayController m_captions{&m_defaults};
    FakeInstaller m_installer{{{"base", "ggml-base.bin", 147951465, true, true, true},
                               {"small", "ggml-small.bin", 487601967, false, true, true},
                               {"medium", "ggml-medium.bin", 0, false, false, true}}};
    std::unique_ptr<SpeechModelInstaller> m_realInstaller; // outlives the model when a test uses it
    SettingsModel::Dependencies m_deps;
    std::unique_ptr<SettingsModel> m_model;
    std::unique_ptr<SettingsWindow> m_window;
};

TEST_F(SettingsWindowTest, SpeechModels_ListShowsFiguresAndStateAndInstallsWithProgressCancelAndChoice)
{
    auto* list = child<QTreeWidget>("speechModelList");
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->topLevelItemCount() == 3; }));
    EXPECT_EQ(row("base")->text(1), "148 MB");
    EXPECT_EQ(row("base")->text(2), "確定まで約 0.9 秒");
    EXPECT_EQ(row("base")->text(3), "文字誤り率 12.3 %");
    EXPECT_EQ(row("base")->text(4), "使用中") << "the default is in use while nothing is chosen";
    EXPECT_EQ(row("small")->text(2), "未測定");
    EXPECT_EQ(row("medium")->text(1), "サイズ不明");

    auto* install = child<QPushButton>("installSpeechModel");
    auto* remove = child<QPushButton>("removeSpeechModel");
    auto* use = child<QPushButton>("useSpeechModel");
    auto* progress = child<QProgressBar>("installProgress");
    auto* cancel = child<QPushButton>("cancelInstall");
    auto* message = child<QLabel>("speechModelMessage");
    list->setCurrentItem(row("base"));
    EXPECT_FALSE(remove->isEnabled()) << "the model in use cannot be removed";
    list->setCurrentItem(row("medium"));
    EXPECT_FALSE(install->isEnabled()) << "no verified source";

    // Cancel leaves the model uninstalled.
    list->setCurrentItem(row("small"));
    QTest::mouseClick(install, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return progress->isVisible() && progress->value() > 0; }));
    EXPECT_FALSE(install->isEnabled()) << "one install at a time";
    QTest::mouseClick(cancel, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !progress->isVisible(); }));
    EXPECT_EQ(message->text(), "キャンセルしました");
    EXPECT_EQ(row("small")->text(4), "未インストール");

    // A finished install can be chosen; the choice is written for the next run.
    list->setCurrentItem(row("small"));
    QTest::mouseClick(install, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return progress->isVisible(); }));
    m_installer.finish();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !progress->isVisible(); }));
    EXPECT_EQ(row("small")->text(4), "インストール済み");
    list->setCurrentItem(row("small"));
    QTest::mouseClick(use, Qt::LeftButton);
    EXPECT_EQ(m_defaults.value(SettingsModel::speechModelKey).toString(), "small");
    EXPECT_TRUE(message->text().contains("次の文字起こしから使われます。")) << message->text().toStdString();
    EXPECT_EQ(row("small")->text(4), "使用中");
    EXPECT_EQ(row("base")->text(4), "インストール済み");
    list->setCurrentItem(row("base"));
    QTest::mouseClick(remove, Qt::LeftButton);
    EXPECT_EQ(row("base")->text(4), "未インストール");
}

// The real installer checks the file; the window offers the import only where a checksum can decide.
TEST_F(SettingsWindowTest, SpeechModels_TheRealInstallerTakesInAFileOnlyWhenItMatchesTheCatalogue)
{
    namespace fs = std::filesystem;
    const auto good = m_dir.path() / "good.bin", bad = m_dir.path() / "bad.bin";
    std::ofstream(good) << "model weights\n";
    std::ofstream(bad) << "model weightz\n";
    const auto catalogue = m_dir.path() / "models.json";
    std::ofstream(catalogue) << R"({"version": 1, "speech": {"default": "tiny-test", "checksum": "sha1", "models": [
        {"name": "tiny-test", "file": "ggml-tiny-test.bin", "bytes": 14, "sha1": ")"
                             << *SpeechModelManager::sha1Of(good) << R"("},
        {"name": "unchecked", "file": "ggml-unchecked.bin", "bytes": null, "sha1": null}
    ]}, "language": {"default": "none", "checksum": "sha256", "models": []}})";
    m_realInstaller = std::make_unique<SpeechModelInstaller>(
        SpeechModelInstaller::Setup{test::binaryDir() / "share/transcription-corvane/install-models", catalogue,
                                    m_dir.path() / "models", m_dir.path() / "cache"});
    m_deps.speechModels = [this] { return m_realInstaller->models(); };
    m_deps.installSpeechModelFrom = [this](const std::string& name, const fs::path& file, auto onProgress,
                                           auto onDone) {
        return m_realInstaller->installFrom(name, file, std::move(onProgress), std::move(onDone));
    };
    m_deps.cancelInstall = [this] { m_realInstaller->cancel(); };

    auto* list = child<QTreeWidget>("speechModelList");
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->topLevelItemCount() == 2; }, 60000));
    auto* import = child<QPushButton>("importSpeechModel");
    auto* message = child<QLabel>("speechModelMessage");
    auto* note = child<QLabel>("importSpeechModelNote");
    list->setCurrentItem(row("unchecked"));
    EXPECT_FALSE(import->isEnabled()) << "the installer would refuse any file for it";
    EXPECT_TRUE(note->isVisible());
    EXPECT_TRUE(note->text().startsWith("このモデルは照合用のチェックサムがないため取り込めません。"));
    EXPECT_EQ(row("unchecked")->text(4), "入手元なし");
    list->setCurrentItem(row("tiny-test"));
    ASSERT_TRUE(import->isEnabled()) << "no download source, but a file of it can be checked";
    EXPECT_FALSE(child<QPushButton>("installSpeechModel")->isEnabled());
    EXPECT_FALSE(note->isVisible());
    const auto imported = [&] { return m_model->installingModel().isEmpty() && !message->text().isEmpty(); };

    pickFile("importSpeechModel", "speechModelFileDialog", bad);
    ASSERT_TRUE(QTest::qWaitFor(imported, 60000));
    EXPECT_TRUE(message->text().contains("一致しません")) << message->text().toStdString();
    EXPECT_EQ(row("tiny-test")->text(4), "ファイルから取り込めます");

    list->setCurrentItem(row("tiny-test"));
    pickFile("importSpeechModel", "speechModelFileDialog", good);
    ASSERT_TRUE(QTest::qWaitFor(imported, 60000));
    EXPECT_EQ(row("tiny-test")->text(4), "インストール済み") << message->text().toStdString();
    EXPECT_FALSE(import->isEnabled()) << "installed already";
}

// One installer takes speech and language models alike, told apart by the catalogue; here by the fakes' lists.
TEST_F(SettingsWindowTest, LanguageModel_ChooserTellsInstructionTuningAndWhyAFileCannotAnswerAndInstallsOne)
{
    const auto gemma = CompositionRoot::installedLanguageModelFile();
    ASSERT_TRUE(std::filesystem::exists(gemma)) << gemma << " is missing: run scripts/setup";
    FakeInstaller language{{{"chat-test", "chat-test.gguf", 1117320768, false, true, true}}};
    m_deps.languageModels = [&] { return language.models(); };
    m_deps.installSpeechModel = [&](const std::string& name, auto onProgress, auto onDone) {
        return (name == "chat-test" ? language : m_installer).install(name, std::move(onProgress), std::move(onDone));
    };
    const auto text = m_dir.path() / "notes.gguf";
    std::ofstream(text) << "not a model at all";
    window().pages()->setCurrentIndex(1);
    auto* file = child<QLabel>("languageModelFile");
    auto* tuned = child<QLabel>("languageModelInstructionTuned");
    auto* problem = child<QLabel>("languageModelProblem");

    EXPECT_EQ(file->text().toStdString(), gemma.string() + "（既定）");
    pickFile("chooseLanguageModel", "languageModelDialog", gemma);
    EXPECT_EQ(m_defaults.value(SettingsModel::languageModelKey).toString().toStdString(), gemma.string());
    EXPECT_EQ(child<QLabel>("languageModelSize")->text(), "253 MB");
    EXPECT_TRUE(tuned->text().startsWith("いいえ")) << "the installed gemma is a base model";
    EXPECT_FALSE(problem->isVisible());
    pickFile("chooseLanguageModel", "languageModelDialog", text);
    EXPECT_EQ(tuned->text(), "—");
    EXPECT_TRUE(problem->isVisible() && problem->text().startsWith("GGUF 形式のモデルではない"))
        << problem->text().toStdString();
    QTest::mouseClick(child<QPushButton>("resetLanguageModel"), Qt::LeftButton);
    EXPECT_FALSE(m_defaults.contains(SettingsModel::languageModelKey));
    EXPECT_TRUE(file->text().endsWith("（既定）"));

    auto* catalogue = child<QWidget>("languageModelCatalogue");
    auto* status = child<QLabel>("languageModelInstall");
    const auto button = [&](const char* name) { return catalogue->findChild<QPushButton*>(QString::fromLatin1(name)); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return button("installLanguageModel-chat-test") != nullptr; }, 60000));
    EXPECT_EQ(button("useLanguageModel-chat-test"), nullptr) << "not installed yet";
    QTest::mouseClick(button("installLanguageModel-chat-test"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return status->text().contains("50 %"); }, 10000))
        << status->text().toStdString();
    EXPECT_TRUE(status->text().startsWith("chat-test: ")) << status->text().toStdString();
    language.finish();
    ASSERT_TRUE(QTest::qWaitFor([&] { return button("useLanguageModel-chat-test") != nullptr; }, 10000));
    EXPECT_TRUE(status->text().contains("インストールしました")) << status->text().toStdString();
    EXPECT_TRUE(child<QLabel>("speechModelMessage")->text().isEmpty()) << "not a speech model's message";

    QTest::mouseClick(button("useLanguageModel-chat-test"), Qt::LeftButton);
    const auto chosen = gemma.parent_path() / "chat-test.gguf";
    EXPECT_EQ(m_defaults.value(SettingsModel::languageModelKey).toString().toStdString(), chosen.string());
    EXPECT_EQ(file->text().toStdString(), chosen.string());
    EXPECT_TRUE(QTest::qWaitFor([&] { return button("useLanguageModel-chat-test") == nullptr; }, 10000))
        << "in use now";
    EXPECT_TRUE(status->text().contains("次の質問から")) << status->text().toStdString();
}

TEST_F(SettingsWindowTest, CaptionAndData_FontSizeReachesTheOpenPanelPositionResetsAndTheHistoryIsShown)
{
    m_captions.setVisible(true);
    auto* view = m_captions.panel()->view();
    auto* size = child<QSpinBox>("captionFontSize");
    size->setFocus();
    size->selectAll();
    QTest::keyClicks(size, "40");
    EXPECT_EQ(m_defaults.value(LiveCaptionOverlayController::fontSizeDefaultsKey).toInt(), 40);
    EXPECT_EQ(view->captionFont().pixelSize(), 40) << "the open panel follows at once";

    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    m_captions.panel()->setGeometry(area.left() + 5, area.top() + 5, 720, 180);
    m_captions.panel()->saveFrame();
    QTest::mouseClick(child<QPushButton>("resetCaptionPosition"), Qt::LeftButton);
    EXPECT_EQ(m_captions.panel()->geometry(),
              LiveCaptionOverlayController::defaultFrame(area, LiveCaptionOverlayController::defaultSize));
    EXPECT_EQ(m_defaults.value(LiveCaptionOverlayController::frameAutosaveName).toRect(),
              m_captions.panel()->geometry());

    QTest::mouseClick(child<QCheckBox>("captionShowSpeaker"), Qt::LeftButton);
    EXPECT_TRUE(m_defaults.boolValue(SettingsModel::showSpeakerKey));

    EXPECT_EQ(child<QLabel>("historyFolder")->text().toStdString(), m_dir.path().string());
    EXPECT_EQ(child<QLabel>("sessionCount")->text(), "3 件");
}

TEST_F(SettingsWindowTest, SpeechModels_ShowTheDeviceInUseTheModelThatSuitsThisMachineAndTwoPasses)
{
    const std::vector<SpeechModelEntry> installed{{"base", "ggml-base.bin", 147951465, true, true, true},
                                                  {"small", "ggml-small.bin", 487601967, true, true, true},
                                                  {"medium", "ggml-medium.bin", 0, true, true, true}};
    m_deps.speechModels = [installed] { return installed; };
    m_deps.speechDevice = [] { return std::string("GPU (Radeon RX 6600)"); };
    // small keeps the final lines' targets but not the refreshes; medium is measured when asked.
    auto speeds = std::make_shared<std::map<std::string, ModelSpeed>>(
        std::map<std::string, ModelSpeed>{{"base", {0.25, 0.39}}, {"small", {0.47, 0.62}}});
    m_deps.measuredSpeed = [speeds](const std::string& name) -> std::optional<ModelSpeed> {
        const auto found = speeds->find(name);
        return found == speeds->end() ? std::nullopt : std::optional(found->second);
    };
    m_deps.measureSpeed = [speeds](const std::string& name) -> Expected<void, std::string> {
        (*speeds)[name] = {1.2, 1.9};
        return {};
    };

    auto* list = child<QTreeWidget>("speechModelList");
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->topLevelItemCount() == 3; }));
    EXPECT_EQ(child<QLabel>("speechDevice")->text(), "音声認識の計算: GPU (Radeon RX 6600)");
    auto* advice = child<QLabel>("speechModelAdvice");
    EXPECT_TRUE(advice->text().startsWith("このPCでは base が 5 秒の発話を 0.4 秒で処理：推奨")) << advice->text().toStdString();
    EXPECT_TRUE(advice->text().contains("2 段階（途中は base、確定行は small）")) << advice->text().toStdString();
    EXPECT_EQ(row("base")->text(2), "5 秒の発話を 0.4 秒で処理（推奨）");
    EXPECT_EQ(row("small")->text(2), "5 秒の発話を 0.6 秒で処理（確定行のみ（2 段階））");
    EXPECT_EQ(row("medium")->text(2), "未測定");

    QTest::mouseClick(child<QPushButton>("measureSpeechModels"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return row("medium") && row("medium")->text(2) != "未測定"; }));
    EXPECT_EQ(row("medium")->text(2), "5 秒の発話を 1.9 秒で処理（このPCには重すぎます）");

    // Two passes are written for the next run, and taken back.
    auto* twoPasses = child<QCheckBox>("twoPassSpeech");
    EXPECT_TRUE(twoPasses->isEnabled());
    EXPECT_FALSE(twoPasses->isChecked());
    EXPECT_EQ(twoPasses->text(), "2 段階で読む（途中の文字は base、確定行は small）");
    twoPasses->click();
    EXPECT_EQ(m_defaults.value(SettingsModel::speechModelKey).toString(), "base");
    EXPECT_EQ(m_defaults.value(SettingsModel::finalSpeechModelKey).toString(), "small");
    EXPECT_TRUE(twoPasses->isChecked());
    twoPasses->click();
    EXPECT_EQ(m_defaults.value(SettingsModel::finalSpeechModelKey).toString(), "");
    EXPECT_FALSE(twoPasses->isChecked());
}

} // namespace
} // namespace tc
