#include "TranscriptionUI/settings/SettingsWindow.h"

#include "TranscriptionUI/settings/CaptionStyleSection.h"
#include "TranscriptionUI/settings/CaptionPlacementSection.h"
#include "TranscriptionUI/settings/CalendarSourcesSection.h"
#include "TranscriptionUI/settings/CalendarSourcesModel.h"
#include "TranscriptionUI/settings/SettingsModel.h"
#include "TranscriptionUI/settings/SpeechModelSection.h"
#include "TranscriptionUI/window/SectionWidgets.h"
#include "TranscriptionUI/window/ViewStyle.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace tc {

namespace {

QLabel* wrappingLabel(QWidget* parent, const QString& objectName, const QString& text = {})
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

void fill(QComboBox* combo, const std::vector<SettingsModel::DeviceChoice>& choices, int current)
{
    const QSignalBlocker quiet(combo);
    combo->clear();
    for (const auto& choice : choices)
        combo->addItem(choice.label, choice.name);
    combo->setCurrentIndex(current);
}

} // namespace

SettingsWindow::SettingsWindow(SettingsModel* model, QWidget* parent)
    : QWidget(parent, Qt::Window), m_model(model), m_pages(new QTabWidget(this))
{
    setWindowTitle(QStringLiteral("設定"));
    setObjectName(QStringLiteral("settingsWindow"));
    resize(720, 480);
    m_pages->addTab(new SpeechModelSection(m_model, m_pages), QStringLiteral("音声認識モデル"));
    m_pages->addTab(makeLanguageModelPage(), QStringLiteral("言語モデル"));
    m_pages->addTab(makeDevicePage(), QStringLiteral("デバイス"));
    m_pages->addTab(makeCaptionPage(), QStringLiteral("字幕パネル"));
    m_pages->addTab(makeDataPage(), QStringLiteral("データ"));
    m_pages->addTab(new CalendarSourcesSection(new CalendarSourcesModel(m_model->calendarSources(), this), m_pages),
                    QStringLiteral("カレンダー"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pages);

    connect(m_model, &SettingsModel::languageModelChanged, this, &SettingsWindow::showLanguageModel);
    connect(m_model, &SettingsModel::devicesChanged, this, &SettingsWindow::showDevices);
    showLanguageModel();
    showDevices();
}

void SettingsWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_model->refreshSpeechModels();
    m_model->refreshDevices();
    showLanguageModel();
    m_sessionCount->setText(QStringLiteral("%1 件").arg(m_model->sessionCount()));
}

QWidget* SettingsWindow::makeLanguageModelPage()
{
    auto* page = new QWidget(m_pages);
    m_languageFile = wrappingLabel(page, QStringLiteral("languageModelFile"));
    m_languageSize = wrappingLabel(page, QStringLiteral("languageModelSize"));
    m_languageTuned = wrappingLabel(page, QStringLiteral("languageModelInstructionTuned"));
    m_languageProblem = wrappingLabel(page, QStringLiteral("languageModelProblem"));
    m_languageProblem->setStyleSheet(section::colorStyle(ViewStyle::orange()));
    m_languageNote = wrappingLabel(page, QStringLiteral("languageModelNote"));
    auto* choose = new QPushButton(QStringLiteral("ファイルを選ぶ…"), page);
    choose->setObjectName(QStringLiteral("chooseLanguageModel"));
    auto* reset = new QPushButton(QStringLiteral("既定に戻す"), page);
    reset->setObjectName(QStringLiteral("resetLanguageModel"));
    connect(choose, &QPushButton::clicked, this, &SettingsWindow::chooseLanguageModelFile);
    connect(reset, &QPushButton::clicked, m_model, &SettingsModel::resetLanguageModel);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("ファイル"), m_languageFile);
    form->addRow(QStringLiteral("サイズ"), m_languageSize);
    form->addRow(QStringLiteral("指示チューニング"), m_languageTuned);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(choose);
    buttons->addWidget(reset);
    buttons->addStretch();
    m_languageCatalogue = new QWidget(page);
    m_languageCatalogue->setObjectName(QStringLiteral("languageModelCatalogue"));
    new QVBoxLayout(m_languageCatalogue);
    m_languageCatalogue->layout()->setContentsMargins(0, 0, 0, 0);
    m_languageInstall = wrappingLabel(page, QStringLiteral("languageModelInstall"));
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(
        new QLabel(QStringLiteral("質問に答える GGUF 形式のモデルです。変更は次の質問から使われます。"), page));
    layout->addLayout(form);
    layout->addWidget(m_languageProblem);
    layout->addWidget(m_languageNote);
    layout->addLayout(buttons);
    layout->addWidget(
        wrappingLabel(page, QStringLiteral("languageModelCatalogueTitle"),
                      QStringLiteral("文章で答える（指示チューニング済みの）モデルをインストールできます。"
                                     "最初の質問で読み込まれ、回答には1問あたり数秒〜数十秒かかります。")));
    layout->addWidget(m_languageCatalogue);
    layout->addWidget(m_languageInstall);
    layout->addStretch();
    connect(m_model, &SettingsModel::installChanged, this, &SettingsWindow::showLanguageInstall);
    connect(m_model, &SettingsModel::speechModelMessageChanged, this, &SettingsWindow::showLanguageInstall);
    return page;
}

void SettingsWindow::showLanguageInstall()
{
    const auto& progress = m_model->installProgress();
    const auto& installing = m_model->installingModel();
    const bool ours =
        std::any_of(m_model->installableLanguageModels().begin(), m_model->installableLanguageModels().end(),
                    [&](const SettingsModel::SpeechModelRow& row) { return row.name == installing; });
    if (ours) {
        const int percent = progress.total > 0 ? static_cast<int>(progress.done * 100 / progress.total) : 0;
        m_languageInstall->setText(
            QStringLiteral("%1: %2 %3 %").arg(installing, QString::fromStdString(progress.phase)).arg(percent));
    } else {
        m_languageInstall->setText(m_model->messageIsAboutLanguageModel() ? m_model->speechModelMessage() : QString());
    }
}

void SettingsWindow::chooseLanguageModelFile()
{
    // Qt's own dialog, one per window, so it looks the same everywhere and can be driven in tests.
    if (!m_fileDialog) {
        m_fileDialog = new QFileDialog(this, QStringLiteral("言語モデルを選ぶ"));
        m_fileDialog->setObjectName(QStringLiteral("languageModelDialog"));
        m_fileDialog->setOption(QFileDialog::DontUseNativeDialog);
        m_fileDialog->setFileMode(QFileDialog::ExistingFile);
        m_fileDialog->setNameFilters({QStringLiteral("GGUF モデル (*.gguf)"), QStringLiteral("すべてのファイル (*)")});
        connect(m_fileDialog, &QFileDialog::fileSelected, m_model, &SettingsModel::chooseLanguageModel);
    }
    m_fileDialog->setDirectory(QFileInfo(m_model->languageModel().file).absolutePath());
    m_fileDialog->open();
}

void SettingsWindow::showLanguageModel()
{
    const auto state = m_model->languageModel();
    m_languageFile->setText(state.isDefault ? QStringLiteral("%1（既定）").arg(state.file) : state.file);
    m_languageSize->setText(state.size);
    m_languageTuned->setText(!state.instructionTuned ? QStringLiteral("—")
                             : *state.instructionTuned ? QStringLiteral("はい（チャットテンプレートあり）")
                                                       : QStringLiteral("いいえ（チャットテンプレートなし）"));
    m_languageProblem->setText(state.problem);
    m_languageProblem->setVisible(!state.problem.isEmpty());
    m_languageNote->setText(state.note);

    auto* rows = m_languageCatalogue->layout();
    while (auto* item = rows->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const auto& entry : m_model->installableLanguageModels()) {
        auto* row = new QWidget(m_languageCatalogue);
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        const QString shown = entry.chosen      ? QStringLiteral("使用中")
                              : entry.installed ? QStringLiteral("インストール済み")
                                                : QStringLiteral("未インストール");
        line->addWidget(new QLabel(QStringLiteral("%1（%2、%3）").arg(entry.name, entry.size, shown), row));
        line->addStretch();
        if (!entry.installed && entry.installable) {
            auto* install = new QPushButton(QStringLiteral("インストール"), row);
            install->setObjectName(QStringLiteral("installLanguageModel-%1").arg(entry.name));
            connect(install, &QPushButton::clicked, this,
                    [this, name = entry.name] { m_model->installLanguageModel(name); });
            line->addWidget(install);
        } else if (entry.installed && !entry.chosen) {
            auto* use = new QPushButton(QStringLiteral("使用する"), row);
            use->setObjectName(QStringLiteral("useLanguageModel-%1").arg(entry.name));
            connect(use, &QPushButton::clicked, this, [this, name = entry.name] { m_model->useLanguageModel(name); });
            line->addWidget(use);
        }
        rows->addWidget(row);
    }
}

QWidget* SettingsWindow::makeDevicePage()
{
    auto* page = new QWidget(m_pages);
    m_microphones = new QComboBox(page);
    m_microphones->setObjectName(QStringLiteral("microphoneDevice"));
    m_outputs = new QComboBox(page);
    m_outputs->setObjectName(QStringLiteral("systemAudioDevice"));
    connect(m_microphones, &QComboBox::activated, m_model, &SettingsModel::chooseMicrophone);
    connect(m_outputs, &QComboBox::activated, m_model, &SettingsModel::chooseOutput);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("マイク"), m_microphones);
    form->addRow(QStringLiteral("取り込む出力"), m_outputs);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(form);
    layout->addWidget(
        wrappingLabel(page, QStringLiteral("deviceNote"),
                      QStringLiteral("文字起こし中でもすぐに切り替わります。選んだデバイスが見つからないときは"
                                     "既定のデバイスで続け、お知らせを表示します。")));
    layout->addStretch();
    return page;
}

void SettingsWindow::showDevices()
{
    fill(m_microphones, m_model->microphoneChoices(), m_model->microphoneIndex());
    fill(m_outputs, m_model->outputChoices(), m_model->outputIndex());
}

QWidget* SettingsWindow::makeCaptionPage()
{
    auto* page = new QWidget(m_pages);
    auto* reset = new QPushButton(QStringLiteral("位置をリセット"), page);
    reset->setObjectName(QStringLiteral("resetCaptionPosition"));
    connect(reset, &QPushButton::clicked, m_model, &SettingsModel::resetCaptionPosition);
    m_showSpeaker = new QCheckBox(QStringLiteral("話者（自分／相手）を表示"), page);
    m_showSpeaker->setObjectName(QStringLiteral("captionShowSpeaker"));
    m_showSpeaker->setChecked(m_model->showSpeaker());
    connect(m_showSpeaker, &QCheckBox::toggled, m_model, &SettingsModel::setShowSpeaker);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(new CaptionStyleSection(m_model->preferences(), page));
    layout->addWidget(m_showSpeaker);
    layout->addWidget(new CaptionPlacementSection(m_model->preferences(), page));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(reset);
    buttons->addStretch();
    layout->addLayout(buttons);
    layout->addStretch();
    return page;
}

QWidget* SettingsWindow::makeDataPage()
{
    auto* page = new QWidget(m_pages);
    auto* folder = wrappingLabel(page, QStringLiteral("historyFolder"), m_model->historyFolder());
    m_sessionCount = wrappingLabel(page, QStringLiteral("sessionCount"));
    auto* open = new QPushButton(QStringLiteral("フォルダを開く"), page);
    open->setObjectName(QStringLiteral("openHistoryFolder"));
    connect(open, &QPushButton::clicked, this,
            [this] { QDesktopServices::openUrl(QUrl::fromLocalFile(m_model->historyFolder())); });
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("履歴のフォルダ"), folder);
    form->addRow(QStringLiteral("保存されている会話"), m_sessionCount);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(form);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(open);
    buttons->addStretch();
    layout->addLayout(buttons);
    layout->addStretch();
    return page;
}

} // namespace tc
