#include "TranscriptionUI/settings/SpeechModelSection.h"

#include "TranscriptionUI/settings/SettingsModel.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace tc {

namespace {

enum Column { nameColumn, sizeColumn, speedColumn, accuracyColumn, stateColumn, columnCount };

QString stateText(const SettingsModel::SpeechModelRow& row)
{
    if (row.chosen && row.installed) return QStringLiteral("使用中");
    if (row.chosen) return QStringLiteral("選択中（未インストール）");
    if (row.installed) return QStringLiteral("インストール済み");
    if (row.installable) return QStringLiteral("未インストール");
    // No download here, but a file from elsewhere can still be checked against the catalogue.
    return row.verifiable ? QStringLiteral("ファイルから取り込めます") : QStringLiteral("入手元なし");
}

} // namespace

SpeechModelSection::SpeechModelSection(SettingsModel* model, QWidget* parent)
    : QWidget(parent), m_model(model), m_list(new QTreeWidget(this)),
      m_install(new QPushButton(QStringLiteral("インストール"), this)),
      m_import(new QPushButton(QStringLiteral("ファイルから取り込む…"), this)), m_importNote(new QLabel(this)),
      m_remove(new QPushButton(QStringLiteral("削除"), this)), m_use(new QPushButton(QStringLiteral("使用する"), this)),
      m_progress(new QProgressBar(this)), m_phase(new QLabel(this)),
      m_cancel(new QPushButton(QStringLiteral("キャンセル"), this)), m_message(new QLabel(this)),
      m_device(new QLabel(this)), m_advice(new QLabel(this)),
      m_measure(new QPushButton(QStringLiteral("このPCで速さを測る"), this)), m_twoPasses(new QCheckBox(this))
{
    nameControls();
    layOut();
    connectControls();
    showModels();
    showInstall();
}

void SpeechModelSection::nameControls()
{
    m_list->setObjectName(QStringLiteral("speechModelList"));
    m_list->setColumnCount(columnCount);
    m_list->setHeaderLabels({QStringLiteral("モデル"), QStringLiteral("サイズ"), QStringLiteral("速度"),
                             QStringLiteral("精度"), QStringLiteral("状態")});
    m_list->setRootIsDecorated(false);
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_install->setObjectName(QStringLiteral("installSpeechModel"));
    m_import->setObjectName(QStringLiteral("importSpeechModel"));
    m_importNote->setObjectName(QStringLiteral("importSpeechModelNote"));
    m_importNote->setWordWrap(true);
    m_importNote->setText(
        QStringLiteral("このモデルは照合用のチェックサムがないため取り込めません。別のモデルを選んでください。"));
    m_remove->setObjectName(QStringLiteral("removeSpeechModel"));
    m_use->setObjectName(QStringLiteral("useSpeechModel"));
    m_progress->setObjectName(QStringLiteral("installProgress"));
    m_cancel->setObjectName(QStringLiteral("cancelInstall"));
    m_message->setObjectName(QStringLiteral("speechModelMessage"));
    m_message->setWordWrap(true);
    m_device->setObjectName(QStringLiteral("speechDevice"));
    m_advice->setObjectName(QStringLiteral("speechModelAdvice"));
    m_advice->setWordWrap(true);
    m_measure->setObjectName(QStringLiteral("measureSpeechModels"));
    m_twoPasses->setObjectName(QStringLiteral("twoPassSpeech"));
}

void SpeechModelSection::layOut()
{
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_install);
    buttons->addWidget(m_import);
    buttons->addWidget(m_remove);
    buttons->addStretch();
    buttons->addWidget(m_use);
    auto* install = new QHBoxLayout;
    install->addWidget(m_progress, 1);
    install->addWidget(m_phase);
    install->addWidget(m_cancel);
    auto* note = new QLabel(QStringLiteral("選んだモデルは次の文字起こしから使われます。速度と精度はこのアプリの"
                                           "ベンチマークで測った値です。"),
                            this);
    note->setWordWrap(true);

    auto* advice = new QHBoxLayout;
    advice->addWidget(m_advice, 1);
    advice->addWidget(m_measure);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_device);
    layout->addLayout(advice);
    layout->addWidget(m_twoPasses);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);
    layout->addWidget(m_importNote);
    layout->addLayout(install);
    layout->addWidget(m_message);
    layout->addWidget(note);
}

void SpeechModelSection::connectControls()
{
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &SpeechModelSection::updateButtons);
    connect(m_install, &QPushButton::clicked, this, [this] { m_model->installSpeechModel(selectedName()); });
    connect(m_import, &QPushButton::clicked, this, &SpeechModelSection::chooseFile);
    connect(m_remove, &QPushButton::clicked, this, [this] { m_model->removeSpeechModel(selectedName()); });
    connect(m_use, &QPushButton::clicked, this, [this] { m_model->chooseSpeechModel(selectedName()); });
    connect(m_cancel, &QPushButton::clicked, m_model, &SettingsModel::cancelInstall);
    connect(m_measure, &QPushButton::clicked, m_model, &SettingsModel::measureSpeeds);
    connect(m_twoPasses, &QCheckBox::clicked, this, [this](bool on) {
        m_model->setTwoPasses(on);
        showAdvice();
    });
    connect(m_model, &SettingsModel::speechModelsChanged, this, &SpeechModelSection::showModels);
    connect(m_model, &SettingsModel::installChanged, this, &SpeechModelSection::showInstall);
    connect(m_model, &SettingsModel::speechModelMessageChanged, this, [this] {
        m_message->setText(m_model->messageIsAboutLanguageModel() ? QString() : m_model->speechModelMessage());
    });
}

QString SpeechModelSection::selectedName() const
{
    const auto* item = m_list->currentItem();
    return item ? item->text(nameColumn) : QString();
}

void SpeechModelSection::showModels()
{
    const QString selected = selectedName();
    m_list->clear();
    if (m_model->speechModels().empty()) {
        auto* item = new QTreeWidgetItem(m_list, {m_model->speechModelsLoaded()
                                                      ? QStringLiteral("モデルの一覧を読めませんでした。")
                                                      : QStringLiteral("モデルの一覧を読み込んでいます…")});
        item->setFlags(Qt::NoItemFlags);
    }
    for (const auto& row : m_model->speechModels()) {
        auto* item = new QTreeWidgetItem(m_list, {row.name, row.size, row.speed, row.accuracy, stateText(row)});
        if (row.name == selected) m_list->setCurrentItem(item);
    }
    showAdvice();
    updateButtons();
}

void SpeechModelSection::showAdvice()
{
    const QString device = m_model->speechDevice();
    m_device->setText(device.isEmpty() ? QString() : QStringLiteral("音声認識の計算: %1").arg(device));
    const auto& advice = m_model->modelAdvice();
    m_advice->setText(advice.reason.empty()
                          ? QStringLiteral("インストール済みのモデルの速さはまだ測っていません。「このPCで速さを測る」"
                                           "を押すと、このPCに合うモデルをおすすめします。")
                          : QString::fromStdString(advice.reason));
    m_measure->setEnabled(!m_model->measuringSpeeds());
    const QString finalModel = m_model->finalSpeechModel();
    m_twoPasses->setChecked(!finalModel.isEmpty());
    if (!finalModel.isEmpty())
        m_twoPasses->setText(QStringLiteral("2 段階で読む（途中の文字は %1、確定行は %2）")
                                 .arg(m_model->chosenSpeechModel(), finalModel));
    else if (advice.finalModel)
        m_twoPasses->setText(
            QStringLiteral("2 段階で読む（途中の文字は %1、確定行は %2）")
                .arg(QString::fromStdString(advice.recommended), QString::fromStdString(*advice.finalModel)));
    else
        m_twoPasses->setText(QStringLiteral("2 段階で読む（このPCに向く組み合わせはありません）"));
    m_twoPasses->setEnabled(!finalModel.isEmpty() || advice.finalModel.has_value());
}

void SpeechModelSection::showInstall()
{
    const bool installing = !m_model->installingModel().isEmpty();
    const auto& progress = m_model->installProgress();
    m_progress->setVisible(installing);
    m_phase->setVisible(installing);
    m_cancel->setVisible(installing);
    // A range of 0 shows a busy bar while the total is not known; kilobytes keep large files within int.
    m_progress->setRange(0, static_cast<int>(progress.total / 1024));
    m_progress->setValue(static_cast<int>(std::min(progress.done, progress.total) / 1024));
    m_phase->setText(QStringLiteral("%1: %2").arg(m_model->installingModel(), QString::fromStdString(progress.phase)));
    updateButtons();
}

void SpeechModelSection::updateButtons()
{
    const QString name = selectedName();
    const auto& rows = m_model->speechModels();
    const auto row = std::find_if(rows.begin(), rows.end(), [&](const auto& r) { return r.name == name; });
    const bool found = row != rows.end();
    const bool installing = !m_model->installingModel().isEmpty();
    m_install->setEnabled(found && !row->installed && row->installable && !installing);
    m_import->setEnabled(found && !row->installed && row->verifiable && !installing);
    // Said before anyone picks a file: the installer would refuse any file for such a model.
    m_importNote->setVisible(found && !row->installed && !row->verifiable);
    m_remove->setEnabled(found && row->installed && !row->chosen && name != m_model->installingModel());
    m_use->setEnabled(found && row->installed && !row->chosen);
}

void SpeechModelSection::chooseFile()
{
    const QString name = selectedName();
    const auto& rows = m_model->speechModels();
    const auto row = std::find_if(rows.begin(), rows.end(), [&](const auto& r) { return r.name == name; });
    if (row == rows.end()) return;
    // Qt's own dialog, as for the language model, so it looks the same everywhere and can be driven in tests. A
    // fresh one each time: a reused dialog keeps the file picked last time, for another model or rejected.
    const QString directory = m_importDialog ? m_importDialog->directory().absolutePath()
                                             : QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    delete m_importDialog;
    m_importDialog =
        new QFileDialog(this, QStringLiteral("%1 のファイル（%2）を選ぶ").arg(name, row->fileName), directory);
    m_importDialog->setObjectName(QStringLiteral("speechModelFileDialog"));
    m_importDialog->setOption(QFileDialog::DontUseNativeDialog);
    m_importDialog->setFileMode(QFileDialog::ExistingFile);
    m_importDialog->setNameFilters(
        {QStringLiteral("whisper.cpp モデル (*.bin)"), QStringLiteral("すべてのファイル (*)")});
    connect(m_importDialog, &QFileDialog::fileSelected, this,
            [this, name](const QString& file) { m_model->installSpeechModelFrom(name, file); });
    m_importDialog->open();
}

} // namespace tc
