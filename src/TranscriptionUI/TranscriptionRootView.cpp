#include "TranscriptionUI/TranscriptionRootView.h"

#include "TranscriptionDomain/DomainGlossary.h"
#include "TranscriptionUI/CalendarEventRowView.h"
#include "TranscriptionUI/LiveCaptionOverlayController.h"
#include "TranscriptionUI/SourceControlView.h"
#include "TranscriptionUI/SymbolIcon.h"
#include "TranscriptionUI/TranscriptRowView.h"
#include "TranscriptionUI/UserDefaults.h"
#include "TranscriptionUI/ViewStyle.h"
#include "TranscriptionUI/WaveformView.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QFileDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace tc {

namespace {

constexpr float kSilenceThreshold = 0.02f;

QString qs(const std::string& text)
{
    return QString::fromStdString(text);
}

QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QString colorStyle(const QColor& color)
{
    return QStringLiteral("color: %1;").arg(ViewStyle::css(color));
}

// An icon followed by a wrapping label, in the given font and colour.
QWidget* iconLabel(const QString& symbol, const QString& text, const QFont& font, const QColor& color, QWidget* parent,
                   QLabel** labelOut = nullptr)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    auto* icon = new QLabel(row);
    const int side = QFontMetrics(font).height();
    icon->setPixmap(SymbolIcon::fallback(symbol, color).pixmap(side, side));
    icon->setAlignment(Qt::AlignTop);
    auto* label = new QLabel(text, row);
    label->setFont(font);
    label->setStyleSheet(colorStyle(color));
    label->setWordWrap(true);
    layout->addWidget(icon, 0, Qt::AlignTop);
    layout->addWidget(label, 1);
    if (labelOut) *labelOut = label;
    return row;
}

void clearLayout(QLayout* layout)
{
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* widget = item->widget()) widget->deleteLater();
        delete item;
    }
}

QToolButton* borderlessButton(const QString& symbol, const QString& text, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    if (!symbol.isEmpty()) button->setIcon(SymbolIcon::icon(symbol));
    if (!text.isEmpty()) button->setText(text);
    button->setAutoRaise(true);
    button->setToolButtonStyle(symbol.isEmpty() ? Qt::ToolButtonTextOnly : Qt::ToolButtonIconOnly);
    return button;
}

} // namespace

TranscriptionRootView::TranscriptionRootView(TranscriptionViewModel::Dependencies dependencies, UserDefaults* defaults,
                                             QWidget* parent)
    : QWidget(parent), m_defaults(defaults)
{
    if (!dependencies.settings) dependencies.settings = defaults->settings();
    m_model = new TranscriptionViewModel(std::move(dependencies), this);
    m_captionOverlay = new LiveCaptionOverlayController(defaults, this);
    m_fontSize = std::clamp(defaults->doubleValue(fontSizeKey, 16.0), minFontSize, maxFontSize);

    m_chooseSaveLocation = [this](const QString& proposedName) -> std::optional<QString> {
        QFileDialog dialog(this, QStringLiteral("エクスポート"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setNameFilter(QStringLiteral("Markdown (*.md)"));
        dialog.setDefaultSuffix(QStringLiteral("md"));
        dialog.selectFile(proposedName);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
        return dialog.selectedFiles().front();
    };
    m_confirmClear = [this] {
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
    };
    m_reportError = [this](const QString& message) {
        QMessageBox::warning(this, QStringLiteral("エクスポート"), message);
    };

    m_sidebarToggle = new QAction(SymbolIcon::icon(QStringLiteral("sidebar.right")), QString(), this);
    connect(m_sidebarToggle, &QAction::triggered, this,
            [this] { setCalendarSidebarVisible(!calendarSidebarVisible()); });

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addWidget(makeControlBar());
    root->addWidget(divider(this));
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->addWidget(makeTranscriptColumn());
    m_splitter->addWidget(makeSidebar());
    m_splitter->setStretchFactor(0, 1);
    m_splitter->setStretchFactor(1, 0);
    root->addWidget(m_splitter, 1);

    for (auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, &TranscriptionRootView::onReturnPressed);
    }

    connect(m_defaults, &UserDefaults::valueChanged, this, [this](const QString& key) {
        if (key == LiveCaptionOverlayController::visibilityDefaultsKey && m_bootstrapped)
            m_captionOverlay->setVisible(m_defaults->boolValue(key, false));
        else if (key == sidebarVisibleKey)
            setCalendarSidebarVisible(calendarSidebarVisible());
    });
    connect(m_model, &TranscriptionViewModel::liveCaptionContentChanged, this,
            [this] { m_captionOverlay->update(m_model->liveCaptionContent()); });

    using VM = TranscriptionViewModel;
    connect(m_model, &VM::isRunningChanged, this, [this] {
        refreshRunControls();
        refreshPermissionHint();
        refreshExportAndClear();
    });
    connect(m_model, &VM::isPausedChanged, this, &TranscriptionRootView::refreshRunControls);
    connect(m_model, &VM::activeSourcesChanged, this, &TranscriptionRootView::refreshWaveforms);
    connect(m_model, &VM::levelHistoryChanged, this, &TranscriptionRootView::refreshWaveforms);
    connect(m_model, &VM::finalizedLinesChanged, this, [this] {
        syncTranscriptRows();
        refreshExportAndClear();
        refreshBrowsing();
        refreshSidebarContent();
        refreshAnswer();
    });
    connect(m_model, &VM::pastSessionsChanged, this, [this] {
        refreshExportAndClear();
        refreshBrowsing();
        refreshSidebarContent();
    });
    connect(m_model, &VM::volatileTextChanged, this, &TranscriptionRootView::refreshVolatile);
    connect(m_model, &VM::noticesChanged, this, &TranscriptionRootView::refreshLog);
    for (auto signal : {&VM::speechStatusChanged, &VM::micStatusChanged, &VM::systemAudioGrantedChanged,
                        &VM::optInMicChanged, &VM::optInSystemAudioChanged})
        connect(m_model, signal, this, &TranscriptionRootView::refreshPermissionHint);
    connect(m_model, &VM::browsingEventChanged, this, [this] {
        refreshBrowsing();
        refreshSidebarContent();
    });
    connect(m_model, &VM::sidebarDateChanged, this, &TranscriptionRootView::refreshSidebarHeader);
    connect(m_model, &VM::calendarStatusChanged, this, &TranscriptionRootView::refreshSidebarContent);
    connect(m_model, &VM::dayEventsChanged, this, &TranscriptionRootView::refreshSidebarContent);
    connect(m_model, &VM::isFollowingLatestChanged, this, [this] {
        refreshJumpButton();
        if (m_model->isFollowingLatest()) scrollToBottom(true);
    });
    connect(m_model, &VM::unreadCountChanged, this, &TranscriptionRootView::refreshJumpButton);
    connect(m_model, &VM::pendingScrollTargetChanged, this, &TranscriptionRootView::scrollToPendingTarget);
    connect(m_model, &VM::highlightedLineIDChanged, this, &TranscriptionRootView::refreshHighlight);
    for (auto signal : {&VM::conversationAvailableChanged, &VM::conversationUnavailableReasonChanged,
                        &VM::conversationNoteChanged, &VM::isAskingChanged, &VM::askQuestionChanged})
        connect(m_model, signal, this, &TranscriptionRootView::refreshQuestionSection);
    connect(m_model, &VM::askAnswerChanged, this, &TranscriptionRootView::refreshAnswer);
    connect(m_model, &VM::askErrorChanged, this, &TranscriptionRootView::refreshAnswer);

    setCalendarSidebarVisible(calendarSidebarVisible());
    refreshRunControls();
    refreshWaveforms();
    refreshExportAndClear();
    refreshBrowsing();
    refreshPermissionHint();
    refreshQuestionSection();
    refreshAnswer();
    refreshLog();
    refreshSidebarHeader();
    refreshSidebarContent();
    syncTranscriptRows();
    refreshVolatile();
    refreshJumpButton();
}

TranscriptionRootView::~TranscriptionRootView()
{
    if (m_watchedWindow) m_watchedWindow->removeEventFilter(this);
}

// --- Control bar ---

QWidget* TranscriptionRootView::makeControlBar()
{
    auto* bar = new QWidget(this);
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(12);

    m_runButton = new QPushButton(bar);
    connect(m_runButton, &QPushButton::clicked, this, [this] {
        if (m_model->isRunning())
            m_model->pauseTranscription();
        else if (m_model->isPaused())
            m_model->resumeTranscription();
    });
    layout->addWidget(m_runButton);

    m_micControl = new SourceControlView(AudioSourceID::microphone, m_model, bar);
    m_systemAudioControl = new SourceControlView(AudioSourceID::systemAudio, m_model, bar);
    layout->addWidget(m_micControl);
    layout->addWidget(m_systemAudioControl);

    m_runningBox = new QWidget(bar);
    m_waveformLayout = new QHBoxLayout(m_runningBox);
    m_waveformLayout->setContentsMargins(0, 0, 0, 0);
    m_waveformLayout->setSpacing(12);
    m_runningLabel = new QLabel(QStringLiteral("文字起こし中"), m_runningBox);
    m_runningLabel->setStyleSheet(colorStyle(ViewStyle::secondary(palette())));
    m_waveformLayout->addWidget(m_runningLabel);
    layout->addWidget(m_runningBox);

    layout->addStretch(1);

    auto* fontButtons = new QWidget(bar);
    auto* fontLayout = new QHBoxLayout(fontButtons);
    fontLayout->setContentsMargins(0, 0, 0, 0);
    fontLayout->setSpacing(4);
    m_smallerButton = new QToolButton(fontButtons);
    m_smallerButton->setIcon(SymbolIcon::icon(QStringLiteral("textformat.size.smaller")));
    m_smallerButton->setToolTip(QStringLiteral("文字サイズを変更"));
    m_smallerButton->setAccessibleName(QStringLiteral("文字を小さく"));
    m_largerButton = new QToolButton(fontButtons);
    m_largerButton->setIcon(SymbolIcon::icon(QStringLiteral("textformat.size.larger")));
    m_largerButton->setToolTip(QStringLiteral("文字サイズを変更"));
    m_largerButton->setAccessibleName(QStringLiteral("文字を大きく"));
    connect(m_smallerButton, &QToolButton::clicked, this, &TranscriptionRootView::makeFontSmaller);
    connect(m_largerButton, &QToolButton::clicked, this, &TranscriptionRootView::makeFontLarger);
    fontLayout->addWidget(m_smallerButton);
    fontLayout->addWidget(m_largerButton);
    layout->addWidget(fontButtons);

    m_exportButton = new QPushButton(QStringLiteral("エクスポート"), bar);
    connect(m_exportButton, &QPushButton::clicked, this, &TranscriptionRootView::exportTranscript);
    layout->addWidget(m_exportButton);
    m_clearButton = new QPushButton(QStringLiteral("記録を消去"), bar);
    connect(m_clearButton, &QPushButton::clicked, this, &TranscriptionRootView::requestClearAll);
    layout->addWidget(m_clearButton);
    return bar;
}

void TranscriptionRootView::refreshRunControls()
{
    if (m_model->isRunning()) {
        m_runButton->setText(QStringLiteral("一時停止"));
        m_runButton->setVisible(true);
    } else if (m_model->isPaused()) {
        m_runButton->setText(QStringLiteral("再開"));
        m_runButton->setVisible(true);
    } else {
        m_runButton->setVisible(false);
    }
    m_runningBox->setVisible(m_model->isRunning());
}

void TranscriptionRootView::refreshWaveforms()
{
    const auto& sources = m_model->activeSources();
    bool sameSources = sources.size() == m_waveforms.size();
    for (std::size_t i = 0; sameSources && i < sources.size(); ++i)
        sameSources = m_waveforms[i]->id() == sources[i];
    if (!sameSources) {
        for (WaveformView* view : m_waveforms)
            view->deleteLater();
        m_waveforms.clear();
        for (AudioSourceID source : sources) {
            auto* view = new WaveformView(source, m_runningBox);
            m_waveformLayout->addWidget(view);
            m_waveforms.push_back(view);
        }
    }
    const auto& history = m_model->levelHistory();
    for (WaveformView* view : m_waveforms) {
        const auto entry = history.find(view->id());
        view->setInputs(entry == history.end() ? std::vector<float>{} : entry->second, true, kSilenceThreshold);
    }
}

SourceControlView* TranscriptionRootView::sourceControl(AudioSourceID source) const
{
    return source == AudioSourceID::microphone ? m_micControl : m_systemAudioControl;
}

std::vector<WaveformView*> TranscriptionRootView::waveforms() const
{
    return m_waveforms;
}

void TranscriptionRootView::setFontSize(double size)
{
    m_fontSize = std::clamp(size, minFontSize, maxFontSize);
    m_defaults->setDouble(fontSizeKey, m_fontSize);
    for (TranscriptRowView* row : m_rows)
        row->setFontSize(m_fontSize);
    for (TranscriptRowView* row : browsingRows())
        row->setFontSize(m_fontSize);
    refreshVolatile();
}

void TranscriptionRootView::makeFontSmaller()
{
    setFontSize(std::max(m_fontSize - 2.0, minFontSize));
}

void TranscriptionRootView::makeFontLarger()
{
    setFontSize(std::min(m_fontSize + 2.0, maxFontSize));
}

void TranscriptionRootView::refreshExportAndClear()
{
    m_exportButton->setEnabled(!m_model->finalizedLines().empty());
    m_clearButton->setEnabled(!m_model->finalizedLines().empty() || !m_model->pastSessions().empty());
}

void TranscriptionRootView::exportTranscript()
{
    const std::optional<std::string> markdown = m_model->markdownExport();
    if (!markdown) return;
    const QString proposed = QStringLiteral("transcript-") +
                             QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) +
                             QStringLiteral(".md");
    const std::optional<QString> location = m_chooseSaveLocation(proposed);
    if (!location) return;
    QSaveFile file(*location);
    const QByteArray bytes = QByteArray::fromStdString(*markdown);
    const bool written = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
    // A failed write would otherwise look like a finished export.
    if (!written)
        m_reportError(QStringLiteral("エクスポートできませんでした（") + file.errorString() +
                      QStringLiteral("）。保存先を変えてもう一度お試しください。"));
}

void TranscriptionRootView::requestClearAll()
{
    if (m_model->allSessions().empty()) return;
    m_showClearConfirm = true;
    const bool confirmed = m_confirmClear();
    m_showClearConfirm = false;
    if (confirmed) m_model->clearAll();
}

// --- Transcript column ---

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
    m_liveView = makeLiveView();
    m_browsingView = makeBrowsingView();
    m_transcriptStack->addWidget(m_liveView);
    m_transcriptStack->addWidget(m_browsingView);
    layout->addWidget(m_transcriptStack, 1);

    m_logSection = makeLogSection();
    layout->addWidget(m_logSection);
    return column;
}

QWidget* TranscriptionRootView::makeBrowsingView()
{
    auto* view = new QWidget(this);
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    auto* banner = new QFrame(view);
    banner->setObjectName(QStringLiteral("browsingBanner"));
    banner->setStyleSheet(QStringLiteral("#browsingBanner { background: %1; border-radius: 6px; }")
                              .arg(ViewStyle::css(ViewStyle::withOpacity(ViewStyle::secondary(palette()), 0.1))));
    auto* bannerLayout = new QHBoxLayout(banner);
    bannerLayout->setContentsMargins(8, 8, 8, 8);
    bannerLayout->addWidget(iconLabel(QStringLiteral("calendar"), QString(), ViewStyle::callout(font()),
                                      ViewStyle::secondary(palette()), banner, &m_browsingTitle),
                            1);
    auto* back = new QPushButton(QStringLiteral("ライブに戻る"), banner);
    connect(back, &QPushButton::clicked, this, [this] { m_model->setBrowsingEvent(std::nullopt); });
    bannerLayout->addWidget(back);
    layout->addWidget(banner);

    auto* scroll = new QScrollArea(view);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    m_browsingList = new QWidget(scroll);
    m_browsingLayout = new QVBoxLayout(m_browsingList);
    m_browsingLayout->setContentsMargins(0, 0, 0, 0);
    m_browsingLayout->setSpacing(0);
    m_browsingLayout->addStretch(1);
    scroll->setWidget(m_browsingList);
    m_browsingEmpty = new QLabel(QStringLiteral("この時間帯の文字起こしはありません。"), view);
    m_browsingEmpty->setStyleSheet(colorStyle(ViewStyle::secondary(palette())) + QStringLiteral("padding: 8px;"));
    layout->addWidget(m_browsingEmpty);
    layout->addWidget(scroll, 1);
    return view;
}

void TranscriptionRootView::refreshBrowsing()
{
    const auto& event = m_model->browsingEvent();
    m_transcriptStack->setCurrentWidget(event ? m_browsingView : m_liveView);
    if (!event) {
        clearLayout(m_browsingLayout);
        m_browsingLayout->addStretch(1);
        placeJumpButton();
        return;
    }
    m_browsingTitle->setText(QStringLiteral("閲覧中: ") + qs(event->title));
    clearLayout(m_browsingLayout);
    const std::vector<FinalizedLine> lines = m_model->browsingLines();
    for (const FinalizedLine& line : lines)
        m_browsingLayout->addWidget(new TranscriptRowView(line, m_fontSize, m_browsingList));
    m_browsingLayout->addStretch(1);
    m_browsingEmpty->setVisible(lines.empty());
    m_browsingList->parentWidget()->parentWidget()->setVisible(!lines.empty());
}

std::vector<TranscriptRowView*> TranscriptionRootView::browsingRows() const
{
    std::vector<TranscriptRowView*> rows;
    for (int i = 0; i < m_browsingLayout->count(); ++i)
        if (auto* row = qobject_cast<TranscriptRowView*>(m_browsingLayout->itemAt(i)->widget())) rows.push_back(row);
    return rows;
}

QWidget* TranscriptionRootView::makeLiveView()
{
    auto* view = new QWidget(this);
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(makeQuestionSection());

    m_permissionHint =
        iconLabel(QStringLiteral("info.circle"),
                  QStringLiteral("「マイク」または「システム音声」の「許可」を押すと、文字起こしを開始できます。"),
                  ViewStyle::callout(font()), ViewStyle::secondary(palette()), view);
    m_permissionHint->setContentsMargins(0, 4, 0, 4);
    layout->addWidget(m_permissionHint);

    m_transcriptContainer = new QWidget(view);
    auto* containerLayout = new QVBoxLayout(m_transcriptContainer);
    containerLayout->setContentsMargins(0, 0, 0, 0);
    m_transcriptScroll = new QScrollArea(m_transcriptContainer);
    m_transcriptScroll->setWidgetResizable(true);
    m_transcriptScroll->setFrameShape(QFrame::NoFrame);
    m_transcriptScroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_transcriptScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* rows = new QWidget(m_transcriptScroll);
    m_rowsLayout = new QVBoxLayout(rows);
    m_rowsLayout->setContentsMargins(0, 0, 0, 0);
    m_rowsLayout->setSpacing(0);
    m_volatileLabel = new QLabel(rows);
    m_volatileLabel->setTextFormat(Qt::PlainText);
    m_volatileLabel->setWordWrap(true);
    m_volatileLabel->setContentsMargins(4, 2, 4, 2);
    m_volatileLabel->setStyleSheet(colorStyle(ViewStyle::secondary(palette())));
    m_rowsLayout->addWidget(m_volatileLabel);
    auto* bottom = new QWidget(rows);
    bottom->setObjectName(QStringLiteral("bottom"));
    bottom->setFixedHeight(1);
    m_rowsLayout->addWidget(bottom);
    m_rowsLayout->addStretch(1);
    m_transcriptScroll->setWidget(rows);
    containerLayout->addWidget(m_transcriptScroll);

    m_jumpButton = new QPushButton(m_transcriptContainer);
    m_jumpButton->setIcon(SymbolIcon::fallback(QStringLiteral("arrow.down"), Qt::white));
    m_jumpButton->setToolTip(qs(DomainGlossary::latest().meaning));
    m_jumpButton->setCursor(Qt::PointingHandCursor);
    m_jumpButton->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; color: white; border-radius: 13px; padding: 4px 12px; }")
            .arg(ViewStyle::css(ViewStyle::accent(palette()))));
    connect(m_jumpButton, &QPushButton::clicked, this, [this] {
        m_model->setFollowingLatest(true);
        scrollToBottom(true);
    });
    m_transcriptContainer->installEventFilter(this);
    layout->addWidget(m_transcriptContainer, 1);

    m_scrollAnimation = new QPropertyAnimation(m_transcriptScroll->verticalScrollBar(), "value", this);
    m_scrollAnimation->setDuration(250);
    m_scrollAnimation->setEasingCurve(QEasingCurve::InOutCubic);
    connect(m_scrollAnimation, &QPropertyAnimation::finished, this, [this] {
        m_programmaticScroll = false;
        updateNearBottom();
        if (m_model->isFollowingLatest()) scrollToBottom(false);
    });

    QScrollBar* bar = m_transcriptScroll->verticalScrollBar();
    connect(bar, &QScrollBar::rangeChanged, this, [this] {
        if (m_model->isFollowingLatest() && m_scrollAnimation->state() != QAbstractAnimation::Running)
            scrollToBottom(false);
        updateNearBottom();
    });
    connect(bar, &QScrollBar::valueChanged, this, [this] {
        updateNearBottom();
        if (!m_programmaticScroll) userDidScroll();
    });
    return view;
}

QWidget* TranscriptionRootView::makeQuestionSection()
{
    const GlossaryTerm& ask = DomainGlossary::ask();
    const BetaBadge& beta = DomainGlossary::askBeta();
    auto* wrapper = new QWidget(this);
    auto* wrapperLayout = new QVBoxLayout(wrapper);
    wrapperLayout->setContentsMargins(0, 0, 0, 0);

    m_questionUnavailable = iconLabel(QStringLiteral("info.circle"), QString(), ViewStyle::caption(font()),
                                      ViewStyle::secondary(palette()), wrapper, &m_questionUnavailableLabel);
    wrapperLayout->addWidget(m_questionUnavailable);

    m_questionSection = new QWidget(wrapper);
    auto* layout = new QVBoxLayout(m_questionSection);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    auto* header = new QHBoxLayout();
    header->setSpacing(6);
    auto* title = new QLabel(QStringLiteral("今の会話に") + qs(ask.label), m_questionSection);
    title->setFont(ViewStyle::subheadline(font()));
    title->setStyleSheet(colorStyle(ViewStyle::secondary(palette())));
    auto* badge = new QLabel(qs(beta.label), m_questionSection);
    QFont badgeFont = ViewStyle::caption2(font());
    badgeFont.setWeight(QFont::DemiBold);
    badge->setFont(badgeFont);
    badge->setStyleSheet(QStringLiteral("color: %1; background: %2; border-radius: 8px; padding: 2px 6px;")
                             .arg(ViewStyle::css(ViewStyle::orange()),
                                  ViewStyle::css(ViewStyle::withOpacity(ViewStyle::orange(), 0.18))));
    badge->setToolTip(qs(beta.note));
    badge->setAccessibleName(qs(ask.label) + QStringLiteral("は") + qs(beta.label) + QStringLiteral("機能です"));
    header->addWidget(title);
    header->addWidget(badge);
    header->addStretch(1);
    layout->addLayout(header);

    auto* input = new QHBoxLayout();
    input->setSpacing(8);
    m_questionField = new QLineEdit(m_questionSection);
    m_questionField->setPlaceholderText(QStringLiteral("今の会話に") + qs(ask.label) +
                                        QStringLiteral("（例: さっきの“例の件”って？）"));
    m_questionField->setClearButtonEnabled(true);
    m_questionField->setAttribute(Qt::WA_InputMethodEnabled);
    connect(m_questionField, &QLineEdit::textEdited, this,
            [this](const QString& text) { m_model->setAskQuestion(text.toStdString()); });
    connect(m_questionField, &QLineEdit::returnPressed, this, &TranscriptionRootView::submitQuestion);
    m_askStack = new QStackedWidget(m_questionSection);
    m_askButton = new QPushButton(SymbolIcon::icon(QStringLiteral("sparkles")), qs(ask.label), m_askStack);
    m_askButton->setToolTip(qs(ask.meaning));
    connect(m_askButton, &QPushButton::clicked, this, &TranscriptionRootView::submitQuestion);
    m_askProgress = new QProgressBar(m_askStack);
    m_askProgress->setRange(0, 0);
    m_askProgress->setTextVisible(false);
    m_askProgress->setMaximumWidth(m_askButton->sizeHint().width());
    m_askProgress->setAccessibleName(QStringLiteral("回答を待っています"));
    m_askStack->addWidget(m_askButton);
    m_askStack->addWidget(m_askProgress);
    m_askStack->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_askStack->setFixedSize(m_askButton->sizeHint());
    input->addWidget(m_questionField, 1);
    input->addWidget(m_askStack);
    layout->addLayout(input);

    m_questionNote = new QLabel(qs(beta.note), m_questionSection);
    m_questionNote->setFont(ViewStyle::caption(font()));
    m_questionNote->setStyleSheet(colorStyle(ViewStyle::secondary(palette())));
    m_questionNote->setWordWrap(true);
    layout->addWidget(m_questionNote);

    m_answerBlock = new QFrame(m_questionSection);
    m_answerBlock->setObjectName(QStringLiteral("answerBlock"));
    m_answerBlock->setStyleSheet(QStringLiteral("#answerBlock { background: %1; border-radius: 6px; }")
                                     .arg(ViewStyle::css(ViewStyle::withOpacity(ViewStyle::accent(palette()), 0.08))));
    auto* answerLayout = new QVBoxLayout(m_answerBlock);
    answerLayout->setContentsMargins(8, 8, 8, 8);
    answerLayout->setSpacing(6);
    m_answerText = new QLabel(m_answerBlock);
    m_answerText->setFont(ViewStyle::callout(font()));
    m_answerText->setTextFormat(Qt::PlainText);
    m_answerText->setWordWrap(true);
    m_answerText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    answerLayout->addWidget(m_answerText);
    m_citationRow = new QWidget(m_answerBlock);
    m_citationLayout = new QHBoxLayout(m_citationRow);
    m_citationLayout->setContentsMargins(0, 0, 0, 0);
    m_citationLayout->setSpacing(6);
    answerLayout->addWidget(m_citationRow);
    layout->addWidget(m_answerBlock);

    m_askErrorLabel = new QLabel(m_questionSection);
    m_askErrorLabel->setFont(ViewStyle::caption(font()));
    m_askErrorLabel->setStyleSheet(colorStyle(ViewStyle::orange()));
    m_askErrorLabel->setWordWrap(true);
    layout->addWidget(m_askErrorLabel);

    wrapperLayout->addWidget(m_questionSection);
    return wrapper;
}

void TranscriptionRootView::refreshQuestionSection()
{
    const bool available = m_model->conversationAvailable();
    const auto& reason = m_model->conversationUnavailableReason();
    m_questionSection->setVisible(available);
    const auto& note = m_model->conversationNote();
    m_questionNote->setText(note.empty() ? qs(DomainGlossary::askBeta().note) : qs(note));
    m_questionUnavailable->setVisible(!available && reason.has_value());
    if (!available && reason)
        m_questionUnavailableLabel->setText(QStringLiteral("「") + qs(DomainGlossary::ask().label) +
                                            QStringLiteral("」は使えません: ") + qs(*reason));
    const QString question = qs(m_model->askQuestion());
    if (m_questionField->text() != question) m_questionField->setText(question);
    const bool asking = m_model->isAsking();
    m_askStack->setCurrentWidget(asking ? static_cast<QWidget*>(m_askProgress) : m_askButton);
    m_askButton->setEnabled(!asking && !question.trimmed().isEmpty());
}

void TranscriptionRootView::refreshAnswer()
{
    const auto& answer = m_model->askAnswer();
    m_answerBlock->setVisible(answer.has_value());
    clearLayout(m_citationLayout);
    if (answer) {
        m_answerText->setText(qs(answer->text));
        bool anyCitation = false;
        auto* label = new QLabel(QStringLiteral("根拠:"), m_citationRow);
        label->setFont(ViewStyle::caption(font()));
        label->setStyleSheet(colorStyle(ViewStyle::secondary(palette())));
        m_citationLayout->addWidget(label);
        for (const Uuid& id : answer->sourceLineIDs) {
            const std::optional<FinalizedLine> line = m_model->line(id);
            if (!line) continue;
            anyCitation = true;
            QToolButton* button = borderlessButton(QString(), TranscriptRowView::formatTime(line->time), m_citationRow);
            button->setToolTip(qs(line->text));
            connect(button, &QToolButton::clicked, this, [this, id] { m_model->focusLine(id); });
            m_citationLayout->addWidget(button);
        }
        m_citationLayout->addStretch(1);
        m_citationRow->setVisible(anyCitation);
    }
    const auto& error = m_model->askError();
    m_askErrorLabel->setVisible(error.has_value());
    if (error) m_askErrorLabel->setText(qs(*error));
}

void TranscriptionRootView::submitQuestion()
{
    if (m_model->isAsking() || QString::fromStdString(m_model->askQuestion()).trimmed().isEmpty()) return;
    m_model->askAboutConversation();
}

void TranscriptionRootView::onReturnPressed()
{
    if (m_questionField->hasFocus()) {
        submitQuestion();
        return;
    }
    if (m_runButton->isVisible() && m_runButton->isEnabled()) m_runButton->click();
}

void TranscriptionRootView::refreshPermissionHint()
{
    m_permissionHint->setVisible(!m_model->isRunning() && !m_model->canStart());
}

QWidget* TranscriptionRootView::makeLogSection()
{
    auto* section = new QWidget(this);
    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(divider(section));
    auto* header = new QHBoxLayout();
    auto* title = new QLabel(QStringLiteral("ログ"), section);
    title->setFont(ViewStyle::caption(font()));
    title->setStyleSheet(colorStyle(ViewStyle::secondary(palette())));
    QToolButton* copy = borderlessButton(QString(), QStringLiteral("コピー"), section);
    QToolButton* clear = borderlessButton(QString(), QStringLiteral("消去"), section);
    copy->setFont(ViewStyle::caption(font()));
    clear->setFont(ViewStyle::caption(font()));
    connect(copy, &QToolButton::clicked, this, [this] {
        QStringList lines;
        for (const auto& notice : m_model->notices())
            lines << qs(notice);
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        clipboard->setText(lines.join(QLatin1Char('\n')));
    });
    connect(clear, &QToolButton::clicked, this, [this] { m_model->clearNotices(); });
    header->addWidget(title);
    header->addWidget(copy);
    header->addWidget(clear);
    header->addStretch(1);
    layout->addLayout(header);

    auto* scroll = new QScrollArea(section);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setMaximumHeight(120);
    auto* notices = new QWidget(scroll);
    m_noticesLayout = new QVBoxLayout(notices);
    m_noticesLayout->setContentsMargins(0, 0, 0, 0);
    m_noticesLayout->setSpacing(2);
    scroll->setWidget(notices);
    layout->addWidget(scroll);
    return section;
}

void TranscriptionRootView::refreshLog()
{
    const auto& notices = m_model->notices();
    m_logSection->setVisible(!notices.empty());
    clearLayout(m_noticesLayout);
    for (const auto& notice : notices) {
        auto* label = new QLabel(qs(notice), m_noticesLayout->parentWidget());
        label->setFont(ViewStyle::caption(font()));
        label->setStyleSheet(colorStyle(ViewStyle::orange()));
        label->setWordWrap(true);
        label->setTextFormat(Qt::PlainText);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_noticesLayout->addWidget(label);
    }
    m_noticesLayout->addStretch(1);
}

// --- Live transcript and reading position ---

std::vector<TranscriptRowView*> TranscriptionRootView::transcriptRows() const
{
    return m_rows;
}

void TranscriptionRootView::syncTranscriptRows()
{
    const auto& lines = m_model->finalizedLines();
    // Lines are only ever appended, except when everything is cleared.
    bool isPrefix = m_rows.size() <= lines.size();
    for (std::size_t i = 0; isPrefix && i < m_rows.size(); ++i)
        isPrefix = m_rows[i]->lineID() == lines[i].id;
    if (!isPrefix) {
        for (TranscriptRowView* row : m_rows) {
            m_rowsLayout->removeWidget(row);
            row->deleteLater();
        }
        m_rows.clear();
    }
    const bool added = m_rows.size() < lines.size();
    QWidget* container = m_rowsLayout->parentWidget();
    for (std::size_t i = m_rows.size(); i < lines.size(); ++i) {
        auto* row = new TranscriptRowView(lines[i], m_fontSize, container);
        m_rowsLayout->insertWidget(static_cast<int>(i), row);
        m_rows.push_back(row);
    }
    refreshHighlight();
    if (m_model->isFollowingLatest() && (added || !isPrefix)) scrollToBottom(added && isVisible());
}

void TranscriptionRootView::refreshVolatile()
{
    const QString text = qs(m_model->volatileText());
    QFont font = m_volatileLabel->font();
    font.setPixelSize(static_cast<int>(std::lround(m_fontSize)));
    font.setItalic(true);
    m_volatileLabel->setFont(font);
    m_volatileLabel->setText(text);
    m_volatileLabel->setVisible(!text.isEmpty());
}

void TranscriptionRootView::refreshHighlight()
{
    const auto& highlighted = m_model->highlightedLineID();
    for (TranscriptRowView* row : m_rows)
        row->setHighlighted(highlighted && row->lineID() == *highlighted);
}

void TranscriptionRootView::refreshJumpButton()
{
    const bool show = !m_model->isFollowingLatest();
    m_jumpButton->setText(jumpButtonLabel(m_model->unreadCount()));
    m_jumpButton->setVisible(show);
    placeJumpButton();
}

QString TranscriptionRootView::jumpButtonLabel(std::int64_t unreadCount)
{
    QString label = qs(DomainGlossary::latest().label);
    if (unreadCount >= 1) label += QStringLiteral("（") + QString::number(unreadCount) + QStringLiteral("）");
    return label;
}

void TranscriptionRootView::placeJumpButton()
{
    if (!m_jumpButton->isVisible()) return;
    m_jumpButton->adjustSize();
    const QSize size = m_jumpButton->sizeHint();
    const QRect area = m_transcriptContainer->rect();
    m_jumpButton->setGeometry((area.width() - size.width()) / 2, area.height() - size.height() - 8, size.width(),
                              size.height());
    m_jumpButton->raise();
}

void TranscriptionRootView::scrollToPendingTarget()
{
    const auto& target = m_model->pendingScrollTarget();
    if (!target) return;
    const auto row = std::find_if(m_rows.begin(), m_rows.end(), [&](auto* r) { return r->lineID() == *target; });
    if (row != m_rows.end()) {
        // Rows laid out a moment ago may not have their final geometry yet.
        m_rowsLayout->parentWidget()->layout()->activate();
        const int centre = (*row)->geometry().center().y();
        const int viewport = m_transcriptScroll->viewport()->height();
        animateScroll(centre - viewport / 2);
    }
    m_model->setPendingScrollTarget(std::nullopt);
}

bool TranscriptionRootView::isNearBottom(double offset, double contentHeight, double containerHeight)
{
    return offset >= contentHeight - containerHeight - nearBottomTolerance;
}

void TranscriptionRootView::updateNearBottom()
{
    const QScrollBar* bar = m_transcriptScroll->verticalScrollBar();
    // The scroll bar's maximum is the content height minus the container height.
    const double container = m_transcriptScroll->viewport()->height();
    m_isNearBottom = isNearBottom(bar->value(), bar->maximum() + container, container);
}

void TranscriptionRootView::userDidScroll()
{
    m_model->setFollowingLatest(m_isNearBottom);
}

void TranscriptionRootView::scrollToBottom(bool animated)
{
    QScrollBar* bar = m_transcriptScroll->verticalScrollBar();
    if (animated) {
        m_rowsLayout->parentWidget()->layout()->activate();
        animateScroll(bar->maximum());
        return;
    }
    if (m_scrollAnimation->state() == QAbstractAnimation::Running) return;
    m_programmaticScroll = true;
    bar->setValue(bar->maximum());
    m_programmaticScroll = false;
    updateNearBottom();
}

void TranscriptionRootView::animateScroll(int target)
{
    QScrollBar* bar = m_transcriptScroll->verticalScrollBar();
    m_scrollAnimation->stop();
    target = std::clamp(target, bar->minimum(), bar->maximum());
    if (!isVisible()) {
        m_programmaticScroll = true;
        bar->setValue(target);
        m_programmaticScroll = false;
        updateNearBottom();
        return;
    }
    m_programmaticScroll = true;
    m_scrollAnimation->setStartValue(bar->value());
    m_scrollAnimation->setEndValue(target);
    m_scrollAnimation->start();
}

// --- Calendar sidebar ---

QWidget* TranscriptionRootView::makeSidebar()
{
    m_sidebar = new QWidget(this);
    m_sidebar->setMinimumWidth(220);
    m_sidebar->setMaximumWidth(320);
    auto* layout = new QVBoxLayout(m_sidebar);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(8);

    auto* header = new QHBoxLayout();
    QToolButton* previous = borderlessButton(QStringLiteral("chevron.left"), QString(), m_sidebar);
    previous->setAccessibleName(QStringLiteral("前の日"));
    QToolButton* next = borderlessButton(QStringLiteral("chevron.right"), QString(), m_sidebar);
    next->setAccessibleName(QStringLiteral("次の日"));
    m_sidebarDateLabel = new QLabel(m_sidebar);
    m_sidebarDateLabel->setFont(ViewStyle::headline(font()));
    m_sidebarDateLabel->setAlignment(Qt::AlignCenter);
    connect(previous, &QToolButton::clicked, this, [this] { m_model->moveSidebarDay(-1); });
    connect(next, &QToolButton::clicked, this, [this] { m_model->moveSidebarDay(1); });
    header->addWidget(previous);
    header->addWidget(m_sidebarDateLabel, 1);
    header->addWidget(next);
    layout->addLayout(header);
    layout->addWidget(divider(m_sidebar));

    m_sidebarStack = new QStackedWidget(m_sidebar);

    auto* undetermined = new QWidget(m_sidebarStack);
    auto* undeterminedLayout = new QVBoxLayout(undetermined);
    undeterminedLayout->setContentsMargins(0, 0, 0, 0);
    undeterminedLayout->addWidget(iconLabel(QStringLiteral("calendar.badge.plus"),
                                            QStringLiteral("カレンダーを許可すると、その日の予定が表示されます。"),
                                            ViewStyle::callout(font()), ViewStyle::secondary(palette()), undetermined));
    auto* allow = new QPushButton(QStringLiteral("カレンダーを許可"), undetermined);
    connect(allow, &QPushButton::clicked, this, [this] { m_model->requestCalendarAccess(); });
    undeterminedLayout->addWidget(allow, 0, Qt::AlignLeft);
    undeterminedLayout->addStretch(1);

    auto* denied = new QWidget(m_sidebarStack);
    auto* deniedLayout = new QVBoxLayout(denied);
    deniedLayout->setContentsMargins(0, 0, 0, 0);
    deniedLayout->addWidget(iconLabel(QStringLiteral("calendar.badge.exclamationmark"),
                                      QStringLiteral("カレンダーが許可されていません。"), ViewStyle::callout(font()),
                                      ViewStyle::secondary(palette()), denied));
    auto* settings = new QPushButton(QStringLiteral("カレンダーへのアクセスを許可"), denied);
    connect(settings, &QPushButton::clicked, this, [this] { m_model->openCalendarPrivacySettings(); });
    deniedLayout->addWidget(settings, 0, Qt::AlignLeft);
    deniedLayout->addStretch(1);

    auto* empty = new QWidget(m_sidebarStack);
    auto* emptyLayout = new QVBoxLayout(empty);
    emptyLayout->setContentsMargins(0, 0, 0, 0);
    auto* emptyLabel = new QLabel(QStringLiteral("予定はありません。"), empty);
    emptyLabel->setFont(ViewStyle::callout(font()));
    emptyLabel->setStyleSheet(colorStyle(ViewStyle::secondary(palette())));
    emptyLayout->addWidget(emptyLabel);
    emptyLayout->addStretch(1);

    auto* scroll = new QScrollArea(m_sidebarStack);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_eventList = new QWidget(scroll);
    m_eventLayout = new QVBoxLayout(m_eventList);
    m_eventLayout->setContentsMargins(0, 0, 0, 0);
    m_eventLayout->setSpacing(2);
    scroll->setWidget(m_eventList);

    m_sidebarStack->addWidget(undetermined);
    m_sidebarStack->addWidget(denied);
    m_sidebarStack->addWidget(empty);
    m_sidebarStack->addWidget(scroll);
    layout->addWidget(m_sidebarStack, 1);
    return m_sidebar;
}

QString TranscriptionRootView::sidebarDateText(Date date)
{
    const auto ms = static_cast<qint64>(std::llround(unixSecondsFromDate(date) * 1000.0));
    return QLocale(QLocale::Japanese, QLocale::Japan)
        .toString(QDateTime::fromMSecsSinceEpoch(ms), QStringLiteral("M/d (ddd)"));
}

void TranscriptionRootView::refreshSidebarHeader()
{
    m_sidebarDateLabel->setText(sidebarDateText(m_model->sidebarDate()));
}

void TranscriptionRootView::refreshSidebarContent()
{
    switch (m_model->calendarStatus()) {
    case CalendarAuthorizationStatus::undetermined: m_sidebarStack->setCurrentIndex(0); return;
    case CalendarAuthorizationStatus::denied:
    case CalendarAuthorizationStatus::restricted: m_sidebarStack->setCurrentIndex(1); return;
    case CalendarAuthorizationStatus::granted: break;
    }
    const auto& events = m_model->dayEvents();
    if (events.empty()) {
        m_sidebarStack->setCurrentIndex(2);
        return;
    }
    m_sidebarStack->setCurrentIndex(3);
    clearLayout(m_eventLayout);
    const auto& browsing = m_model->browsingEvent();
    for (const CalendarEvent& event : events) {
        auto* row =
            new CalendarEventRowView(event, m_model->hasLines(event), browsing && *browsing == event, m_eventList);
        connect(row, &CalendarEventRowView::clicked, this, [this, event] { m_model->setBrowsingEvent(event); });
        m_eventLayout->addWidget(row);
    }
    m_eventLayout->addStretch(1);
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

// --- Lifecycle ---

void TranscriptionRootView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (window() != m_watchedWindow) {
        if (m_watchedWindow) m_watchedWindow->removeEventFilter(this);
        m_watchedWindow = window();
        m_watchedWindow->installEventFilter(this);
    }
    placeJumpButton();
    if (m_bootstrapped) return;
    m_bootstrapped = true;
    m_model->bootstrap();
    m_captionOverlay->update(m_model->liveCaptionContent());
    m_captionOverlay->setVisible(m_defaults->boolValue(LiveCaptionOverlayController::visibilityDefaultsKey, false));
    scrollToBottom(false);
}

bool TranscriptionRootView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_watchedWindow && event->type() == QEvent::WindowActivate) sceneDidBecomeActive();
    if (watched == m_transcriptContainer && event->type() == QEvent::Resize) placeJumpButton();
    return QWidget::eventFilter(watched, event);
}

void TranscriptionRootView::sceneDidBecomeActive()
{
    m_model->sceneDidBecomeActive();
}

} // namespace tc
