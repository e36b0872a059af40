#pragma once

#include "TranscriptionUI/TranscriptionViewModel.h"

#include <QPointer>
#include <QPropertyAnimation>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

class QAction;
class QFrame;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QSplitter;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;

namespace tc {

class LiveCaptionOverlayController;
class SourceControlView;
class TranscriptRowView;
class UserDefaults;
class WaveformView;

// The main window's content: the control bar, the transcript column (live transcript with its question
// section and log, or the lines of a browsed calendar event) and the calendar sidebar. Owns the window's
// presentation model and caption overlay; holds only view state of its own. Main thread only.
class TranscriptionRootView : public QWidget {
    Q_OBJECT
public:
    static constexpr double minFontSize = 12.0;
    static constexpr double maxFontSize = 32.0;
    static constexpr double nearBottomTolerance = 24.0;
    static inline const QString fontSizeKey = QStringLiteral("transcriptFontSize");
    static inline const QString sidebarVisibleKey = QStringLiteral("calendarSidebarVisible");

    // Answers the save location for a proposed file name; nothing when the user cancels.
    using SaveLocationChooser = std::function<std::optional<QString>(const QString& proposedName)>;
    // Answers whether the user confirmed clearing everything.
    using ClearConfirmation = std::function<bool()>;
    using ErrorReporter = std::function<void(const QString& message)>;

    TranscriptionRootView(TranscriptionViewModel::Dependencies dependencies, UserDefaults* defaults,
                          QWidget* parent = nullptr);
    ~TranscriptionRootView() override;

    TranscriptionViewModel* model() const { return m_model; }
    LiveCaptionOverlayController* captionOverlay() const { return m_captionOverlay; }
    // The toolbar item that shows and hides the calendar sidebar; the window puts it in its toolbar.
    QAction* sidebarToggleAction() const { return m_sidebarToggle; }

    double fontSize() const { return m_fontSize; }
    void setFontSize(double size);
    void makeFontSmaller();
    void makeFontLarger();
    bool calendarSidebarVisible() const;
    void setCalendarSidebarVisible(bool visible);

    // Export as the button does it: nothing without lines; asks for a location; writes UTF-8 atomically.
    void exportTranscript();
    // As the "記録を消去" button: asks, and clears only when confirmed.
    void requestClearAll();
    bool showClearConfirm() const { return m_showClearConfirm; }
    void setSaveLocationChooser(SaveLocationChooser chooser) { m_chooseSaveLocation = std::move(chooser); }
    void setClearConfirmation(ClearConfirmation confirm) { m_confirmClear = std::move(confirm); }
    void setErrorReporter(ErrorReporter report) { m_reportError = std::move(report); }

    // The live transcript's reading position.
    bool isNearBottom() const { return m_isNearBottom; }
    static bool isNearBottom(double offset, double contentHeight, double containerHeight);
    // The jump button's label for an unread count.
    static QString jumpButtonLabel(std::int64_t unreadCount);
    // The sidebar's day as "M/d (E)" in Japanese.
    static QString sidebarDateText(Date date);

    // Widgets, for the window's tests and accessibility.
    QPushButton* runButton() const { return m_runButton; }
    SourceControlView* sourceControl(AudioSourceID source) const;
    std::vector<WaveformView*> waveforms() const;
    QLabel* runningLabel() const { return m_runningLabel; }
    QToolButton* smallerButton() const { return m_smallerButton; }
    QToolButton* largerButton() const { return m_largerButton; }
    QPushButton* exportButton() const { return m_exportButton; }
    QPushButton* clearButton() const { return m_clearButton; }
    QPushButton* jumpButton() const { return m_jumpButton; }
    QScrollArea* transcriptScrollArea() const { return m_transcriptScroll; }
    QWidget* browsingView() const { return m_browsingView; }
    QWidget* liveView() const { return m_liveView; }
    QWidget* logSection() const { return m_logSection; }
    QWidget* permissionHint() const { return m_permissionHint; }
    QWidget* calendarSidebar() const { return m_sidebar; }
    QLineEdit* questionField() const { return m_questionField; }
    QLabel* volatileLabel() const { return m_volatileLabel; }
    std::vector<TranscriptRowView*> transcriptRows() const;
    std::vector<TranscriptRowView*> browsingRows() const;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* makeControlBar();
    QWidget* makeTranscriptColumn();
    QWidget* makeBrowsingView();
    QWidget* makeLiveView();
    QWidget* makeQuestionSection();
    QWidget* makeLogSection();
    QWidget* makeSidebar();

    void refreshRunControls();
    void refreshWaveforms();
    void refreshExportAndClear();
    void refreshBrowsing();
    void refreshPermissionHint();
    void refreshQuestionSection();
    void refreshAnswer();
    void refreshLog();
    void refreshSidebarHeader();
    void refreshSidebarContent();
    void refreshJumpButton();
    void syncTranscriptRows();
    void refreshVolatile();
    void refreshHighlight();
    void scrollToPendingTarget();
    void placeJumpButton();
    void submitQuestion();
    void onReturnPressed();
    void sceneDidBecomeActive();

    void updateNearBottom();
    void userDidScroll();
    void scrollToBottom(bool animated);
    void animateScroll(int target);

    UserDefaults* m_defaults;
    TranscriptionViewModel* m_model;
    LiveCaptionOverlayController* m_captionOverlay;
    bool m_showClearConfirm = false;
    double m_fontSize = 16.0;
    bool m_isNearBottom = true;
    bool m_bootstrapped = false;
    bool m_programmaticScroll = false;
    QPointer<QWidget> m_watchedWindow;
    SaveLocationChooser m_chooseSaveLocation;
    ClearConfirmation m_confirmClear;
    ErrorReporter m_reportError;

    QAction* m_sidebarToggle = nullptr;
    QSplitter* m_splitter = nullptr;
    QPushButton* m_runButton = nullptr;
    SourceControlView* m_micControl = nullptr;
    SourceControlView* m_systemAudioControl = nullptr;
    QWidget* m_runningBox = nullptr;
    QLabel* m_runningLabel = nullptr;
    QHBoxLayout* m_waveformLayout = nullptr;
    std::vector<WaveformView*> m_waveforms;
    QToolButton* m_smallerButton = nullptr;
    QToolButton* m_largerButton = nullptr;
    QPushButton* m_exportButton = nullptr;
    QPushButton* m_clearButton = nullptr;

    QStackedWidget* m_transcriptStack = nullptr;
    QWidget* m_browsingView = nullptr;
    QLabel* m_browsingTitle = nullptr;
    QWidget* m_browsingList = nullptr;
    QVBoxLayout* m_browsingLayout = nullptr;
    QLabel* m_browsingEmpty = nullptr;
    QWidget* m_liveView = nullptr;
    QWidget* m_questionUnavailable = nullptr;
    QLabel* m_questionUnavailableLabel = nullptr;
    // The text under the question field: how answers are made, or that the model is loading.
    QLabel* m_questionNote = nullptr;
    QWidget* m_questionSection = nullptr;
    QLineEdit* m_questionField = nullptr;
    QStackedWidget* m_askStack = nullptr;
    QPushButton* m_askButton = nullptr;
    QProgressBar* m_askProgress = nullptr;
    QFrame* m_answerBlock = nullptr;
    QLabel* m_answerText = nullptr;
    QWidget* m_citationRow = nullptr;
    QHBoxLayout* m_citationLayout = nullptr;
    QLabel* m_askErrorLabel = nullptr;
    QWidget* m_permissionHint = nullptr;
    QWidget* m_transcriptContainer = nullptr;
    QScrollArea* m_transcriptScroll = nullptr;
    QVBoxLayout* m_rowsLayout = nullptr;
    std::vector<TranscriptRowView*> m_rows;
    QLabel* m_volatileLabel = nullptr;
    QPushButton* m_jumpButton = nullptr;
    QPropertyAnimation* m_scrollAnimation = nullptr;
    QWidget* m_logSection = nullptr;
    QVBoxLayout* m_noticesLayout = nullptr;

    QWidget* m_sidebar = nullptr;
    QLabel* m_sidebarDateLabel = nullptr;
    QStackedWidget* m_sidebarStack = nullptr;
    QWidget* m_eventList = nullptr;
    QVBoxLayout* m_eventLayout = nullptr;
};

} // namespace tc
