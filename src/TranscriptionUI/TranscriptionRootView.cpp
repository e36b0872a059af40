#include "TranscriptionUI/TranscriptionRootView.h"

#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayController.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayModel.h"
#include "TranscriptionUI/window/BrowsingTranscriptView.h"
#include "TranscriptionUI/window/CalendarSidebarView.h"
#include "TranscriptionUI/window/ControlBarView.h"
#include "TranscriptionUI/window/HistorySearchView.h"
#include "TranscriptionUI/window/LiveTranscriptView.h"
#include "TranscriptionUI/window/ModelDownloadBanner.h"
#include "TranscriptionUI/window/NoticeLogView.h"
#include "TranscriptionUI/window/QuestionPanelView.h"
#include "TranscriptionUI/window/SectionWidgets.h"
#include "TranscriptionUI/window/SymbolIcon.h"
#include "TranscriptionUI/window/TranscriptLineListModel.h"
#include "TranscriptionUI/window/TranscriptListView.h"
#include "TranscriptionUI/window/ViewStyle.h"

#include <QAction>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace tc {

void TranscriptionRootView::showModelDownloadOffer(ModelDownloadOffer* offer)
{
    // Under the control bar and its divider, above the search field.
    auto* banner = new ModelDownloadBanner(offer, this);
    static_cast<QVBoxLayout*>(layout())->insertWidget(2, banner);
}

TranscriptionRootView::TranscriptionRootView(TranscriptionViewModel* model, PreferencesStore* defaults, QWidget* parent)
    : QWidget(parent), m_defaults(defaults), m_model(model),
      m_captionOverlay(new LiveCaptionOverlayController(defaults, this))
{
    m_fontSize = std::clamp(defaults->doubleValue(fontSizeKey, 16.0), minFontSize, maxFontSize);
    m_chooseSaveLocation = [this](const QString& proposedName) { return askSaveLocation(proposedName); };
    m_confirmClear = [this] { return askClearConfirmation(); };
    m_reportError = [this](const QString& message) {
        QMessageBox::warning(this, QStringLiteral("エクスポート"), message);
    };
    m_sidebarToggle = new QAction(SymbolIcon::icon(QStringLiteral("sidebar.right")), QString(), this);
    connect(m_sidebarToggle, &QAction::triggered, this,
            [this] { setCalendarSidebarVisible(!calendarSidebarVisible()); });

    buildSections();
    installShortcuts();
    followPreferences();
    observeModel();

    setCalendarSidebarVisible(calendarSidebarVisible());
    refreshBrowsing();
    refreshPermissionHint();
    refreshExportAndClear();
}

std::optional<TranscriptionRootView::ExportLocation> TranscriptionRootView::askSaveLocation(const QString& proposedName)
{
    static const std::vector<std::pair<TranscriptExportFormat, QString>> types{
        {TranscriptExportFormat::markdown, QStringLiteral("Markdown (*.md)")},
        {TranscriptExportFormat::srt, QStringLiteral("SRT 字幕 (*.srt)")},
        {TranscriptExportFormat::webVtt, QStringLiteral("WebVTT 字幕 (*.vtt)")},
        {TranscriptExportFormat::plainText, QStringLiteral("テキスト (*.txt)")}};
    const auto extension = [](TranscriptExportFormat format) {
        return QString::fromUtf8(exportFormatExtension(format));
    };
    QFileDialog dialog(this, QStringLiteral("エクスポート"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    QStringList filters;
    for (const auto& type : types)
        filters << type.second;
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(extension(TranscriptExportFormat::markdown));
    dialog.selectFile(proposedName);
    auto chosen = TranscriptExportFormat::markdown;
    // The dialog itself swaps the extension of the typed name; a name typed without one gets the chosen one.
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& filter) {
        for (const auto& type : types)
            if (type.second == filter) {
                chosen = type.first;
                dialog.setDefaultSuffix(extension(chosen));
            }
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return ExportLocation{dialog.selectedFiles().front(), chosen};
}

bool TranscriptionRootView::askClearConfirmation()
{
    QMessageBox box(this);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(QStringLiteral("記録を消去しますか？"));
    box.setText(QStringLiteral("記録を消去しますか？"));
    box.setInformativeText(QStringLiteral("表示中と保存済みの文字起こしをすべて削除します。元に戻せません。"));
    QPushButton* erase = box.addButton(QStringLiteral("消去"), QMessageBox::DestructiveRole);
    QPushButton* cancel = box.addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == erase;
}

void TranscriptionRootView::buildSections()
{
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    m_controlBar = new ControlBarView(m_model->runControl(), m_model->sourceAccess(), this);
    connect(m_controlBar->smallerButton(), &QToolButton::clicked, this, &TranscriptionRootView::makeFontSmaller);
    connect(m_controlBar->largerButton(), &QToolButton::clicked, this, &TranscriptionRootView::makeFontLarger);
    connect(m_controlBar->exportButton(), &QPushButton::clicked, this, &TranscriptionRootView::exportTranscript);
    connect(m_controlBar->clearButton(), &QPushButton::clicked, this, &TranscriptionRootView::requestClearAll);
    root->addWidget(m_controlBar);
    root->addWidget(section::divider(this));
    m_search = new HistorySearchView(
        m_model->historySearch(), [this](const Uuid& lineId) { return m_model->openHistorySearchResult(lineId); },
        this);
    root->addWidget(m_search);
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->addWidget(makeTranscriptColumn());
    m_sidebar = new CalendarSidebarView(m_model->calendarBrowsing(), m_model->sessionTranscript(),
                                        m_model->historyAutosave(), this);
    m_splitter->addWidget(m_sidebar);
    m_splitter->setStretchFactor(0, 1);
    m_splitter->setStretchFactor(1, 0);
    root->addWidget(m_splitter, 1);
}

void TranscriptionRootView::installShortcuts()
{
    for (auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, &TranscriptionRootView::onReturnPressed);
    }
    auto* find = new QShortcut(QKeySequence::Find, this);
    find->setContext(Qt::WindowShortcut);
    connect(find, &QShortcut::activated, m_search, &HistorySearchView::focusField);
}

void TranscriptionRootView::followPreferences()
{
    connect(m_defaults, &PreferencesStore::valueChanged, this, [this](const QString& key) {
        if (key == LiveCaptionOverlayController::visibilityDefaultsKey && m_bootstrapped)
            m_captionOverlay->setVisible(m_defaults->boolValue(key, false));
        else if (key == sidebarVisibleKey)
            setCalendarSidebarVisible(calendarSidebarVisible());
        else if (key == LiveCaptionOverlayController::showSpeakerDefaultsKey)
            m_model->setCaptionShowsSpeaker(m_defaults->boolValue(key, false));
    });
    m_model->setCaptionShowsSpeaker(m_defaults->boolValue(LiveCaptionOverlayController::showSpeakerDefaultsKey, false));
    // The caption holds as many lines as its style shows.
    const auto followLineCount = [this] { m_model->setCaptionLineCount(m_captionOverlay->model()->style().maxLines); };
    connect(m_captionOverlay->model(), &LiveCaptionOverlayModel::styleChanged, this, followLineCount);
    followLineCount();
}

void TranscriptionRootView::observeModel()
{
    connect(m_model, &TranscriptionViewModel::liveCaptionContentChanged, this,
            [this] { m_captionOverlay->update(m_model->liveCaptionContent()); });
    connect(&m_model->calendarBrowsing(), &CalendarBrowsing::browsingEventChanged, this,
            &TranscriptionRootView::refreshBrowsing);
    RunControl* run = &m_model->runControl();
    SourceAccess* sources = &m_model->sourceAccess();
    connect(run, &RunControl::isRunningChanged, this, &TranscriptionRootView::refreshPermissionHint);
    for (auto signal :
         {&SourceAccess::speechStatusChanged, &SourceAccess::micStatusChanged, &SourceAccess::systemAudioGrantedChanged,
          &SourceAccess::optInMicChanged, &SourceAccess::optInSystemAudioChanged})
        connect(sources, signal, this, &TranscriptionRootView::refreshPermissionHint);
    connect(run, &RunControl::isRunningChanged, this, &TranscriptionRootView::refreshExportAndClear);
    connect(&m_model->sessionTranscript(), &SessionTranscript::linesChanged, this,
            &TranscriptionRootView::refreshExportAndClear);
    connect(&m_model->historyAutosave(), &HistoryAutosave::pastSessionsChanged, this,
            &TranscriptionRootView::refreshExportAndClear);
}

TranscriptionRootView::~TranscriptionRootView()
{
    if (m_watchedWindow) m_watchedWindow->removeEventFilter(this);
}

QWidget* TranscriptionRootView::makeTranscriptColumn()
{
    auto* column = new QWidget(this);
    column->setMinimumWidth(360);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(8);

    auto* heading = new QLabel(QStringLiteral("文字起こし"), column);
    heading->setFont(ViewStyle::headline(font()));
    layout->addWidget(heading);

    m_transcriptStack = new QStackedWidget(column);
    m_liveView = new QWidget(m_transcriptStack);
    auto* liveLayout = new QVBoxLayout(m_liveView);
    liveLayout->setContentsMargins(0, 0, 0, 0);
    liveLayout->setSpacing(8);
    m_questionPanel = new QuestionPanelView(m_model->conversationAsking(), m_model->sessionTranscript(),
                                            m_model->readingPosition(), m_liveView);
    liveLayout->addWidget(m_questionPanel);
    m_permissionHint = section::iconLabel(
        QStringLiteral("info.circle"),
        QStringLiteral("「マイク」または「システム音声」の「許可」を押すと、文字起こしを開始できます。"),
        ViewStyle::callout(font()), ViewStyle::secondary(palette()), m_liveView);
    m_permissionHint->setContentsMargins(0, 4, 0, 4);
    liveLayout->addWidget(m_permissionHint);
    m_liveTranscript =
        new LiveTranscriptView(m_model->sessionTranscript(), m_model->readingPosition(), m_fontSize, m_liveView);
    liveLayout->addWidget(m_liveTranscript, 1);
    m_browsingView = new BrowsingTranscriptView(m_model->calendarBrowsing(), m_model->sessionTranscript(),
                                                m_model->historyAutosave(), m_model->readingPosition(), m_fontSize,
                                                m_transcriptStack);
    m_transcriptStack->addWidget(m_liveView);
    m_transcriptStack->addWidget(m_browsingView);
    layout->addWidget(m_transcriptStack, 1);

    m_logSection = new NoticeLogView(m_model->noticeLog(), column);
    layout->addWidget(m_logSection);
    return column;
}

void TranscriptionRootView::refreshBrowsing()
{
    const bool browsing = m_model->calendarBrowsing().browsingEvent().has_value();
    m_transcriptStack->setCurrentWidget(browsing ? static_cast<QWidget*>(m_browsingView) : m_liveView);
}

void TranscriptionRootView::refreshPermissionHint()
{
    m_permissionHint->setVisible(!m_model->runControl().isRunning() && !m_model->sourceAccess().canStart());
}

void TranscriptionRootView::refreshExportAndClear()
{
    const bool hasLines = !m_model->sessionTranscript().lines().empty();
    m_controlBar->exportButton()->setEnabled(hasLines);
    m_controlBar->clearButton()->setEnabled(hasLines || !m_model->historyAutosave().pastSessions().empty());
}

// --- Font size and sidebar ---

void TranscriptionRootView::setFontSize(double size)
{
    m_fontSize = std::clamp(size, minFontSize, maxFontSize);
    m_defaults->setDouble(fontSizeKey, m_fontSize);
    m_liveTranscript->setFontSize(m_fontSize);
    m_browsingView->setFontSize(m_fontSize);
}

void TranscriptionRootView::makeFontSmaller()
{
    setFontSize(std::max(m_fontSize - 2.0, minFontSize));
}

void TranscriptionRootView::makeFontLarger()
{
    setFontSize(std::min(m_fontSize + 2.0, maxFontSize));
}

bool TranscriptionRootView::calendarSidebarVisible() const
{
    return m_defaults->boolValue(sidebarVisibleKey, true);
}

void TranscriptionRootView::setCalendarSidebarVisible(bool visible)
{
    if (visible != calendarSidebarVisible()) {
        m_defaults->setBool(sidebarVisibleKey, visible);
        return; // the change notification comes back here
    }
    m_sidebar->setVisible(visible);
    m_sidebarToggle->setToolTip(visible ? QStringLiteral("カレンダーを隠す") : QStringLiteral("カレンダーを表示"));
    m_sidebarToggle->setText(m_sidebarToggle->toolTip());
}

// --- Export and clear ---

void TranscriptionRootView::exportTranscript()
{
    if (m_model->sessionTranscript().lines().empty()) return;
    const std::optional<ExportLocation> location =
        m_chooseSaveLocation(QString::fromStdString(m_model->defaultExportFileName()));
    if (!location) return;
    // A failed write would otherwise look like a finished export.
    if (const auto exported = m_model->exportTranscript(location->path.toStdString(), exportFormat(*location));
        !exported)
        m_reportError(QString::fromStdString(exported.error()));
}

TranscriptExportFormat TranscriptionRootView::exportFormat(const ExportLocation& location)
{
    return exportFormatOfFileName(QFileInfo(location.path).fileName().toStdString()).value_or(location.chosenFormat);
}

void TranscriptionRootView::requestClearAll()
{
    if (m_model->allSessions().empty()) return;
    m_showClearConfirm = true;
    const bool confirmed = m_confirmClear();
    m_showClearConfirm = false;
    if (confirmed) m_model->clearAll();
}

// --- Widgets of the sections ---

QPushButton* TranscriptionRootView::runButton() const
{
    return m_controlBar->runButton();
}
SourceControlView* TranscriptionRootView::sourceControl(AudioSourceID source) const
{
    return m_controlBar->sourceControl(source);
}
std::vector<WaveformView*> TranscriptionRootView::waveforms() const
{
    return m_controlBar->waveforms();
}
QLabel* TranscriptionRootView::runningLabel() const
{
    return m_controlBar->runningLabel();
}
QToolButton* TranscriptionRootView::smallerButton() const
{
    return m_controlBar->smallerButton();
}
QToolButton* TranscriptionRootView::largerButton() const
{
    return m_controlBar->largerButton();
}
QPushButton* TranscriptionRootView::exportButton() const
{
    return m_controlBar->exportButton();
}
QPushButton* TranscriptionRootView::clearButton() const
{
    return m_controlBar->clearButton();
}
QPushButton* TranscriptionRootView::jumpButton() const
{
    return m_liveTranscript->jumpButton();
}
QListView* TranscriptionRootView::transcriptList() const
{
    return m_liveTranscript->list();
}
QLineEdit* TranscriptionRootView::questionField() const
{
    return m_questionPanel->questionField();
}
QLabel* TranscriptionRootView::volatileLabel() const
{
    return m_liveTranscript->volatileLabel();
}
TranscriptLineListModel* TranscriptionRootView::transcriptLines() const
{
    return m_liveTranscript->list()->lines();
}
TranscriptLineListModel* TranscriptionRootView::browsingLines() const
{
    return m_browsingView->list()->lines();
}

// --- Lifecycle ---

void TranscriptionRootView::onReturnPressed()
{
    // Return in the search chooses a result; it must not pause or start the run.
    if (m_search->hasFocusWithin()) {
        m_search->chooseCurrent();
        return;
    }
    if (questionField()->hasFocus()) {
        m_questionPanel->submit();
        return;
    }
    QPushButton* run = runButton();
    if (run->isVisible() && run->isEnabled()) run->click();
}

void TranscriptionRootView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (window() != m_watchedWindow) {
        if (m_watchedWindow) m_watchedWindow->removeEventFilter(this);
        m_watchedWindow = window();
        m_watchedWindow->installEventFilter(this);
    }
    if (m_bootstrapped) return;
    m_bootstrapped = true;
    m_model->bootstrap();
    m_captionOverlay->update(m_model->liveCaptionContent());
    m_captionOverlay->setVisible(m_defaults->boolValue(LiveCaptionOverlayController::visibilityDefaultsKey, false));
    m_liveTranscript->scrollToBottom(false);
}

bool TranscriptionRootView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_watchedWindow && event->type() == QEvent::WindowActivate) m_model->sceneDidBecomeActive();
    return QWidget::eventFilter(watched, event);
}

} // namespace tc
