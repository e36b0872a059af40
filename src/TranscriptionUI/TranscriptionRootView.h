#pragma once

#include "TranscriptionInfrastructure/settings/SettingKeys.h"
#include "TranscriptionUI/TranscriptionViewModel.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QAction;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QSplitter;
class QStackedWidget;
class QToolButton;

namespace tc {

class BrowsingTranscriptView;
class CalendarSidebarView;
class ControlBarView;
class HistorySearchView;
class LiveCaptionOverlayController;
class LiveTranscriptView;
class ModelDownloadOffer;
class NoticeLogView;
class QuestionPanelView;
class SourceControlView;
class TranscriptLineListModel;
class PreferencesStore;
class WaveformView;

// The main window's content, composed of its sections: the control bar, the transcript column (the question
// panel and the live transcript, or the lines of a browsed calendar event, over the notice log) and the
// calendar sidebar. Shows the presentation model it is given (which must outlive it) and owns the caption
// overlay; holds the view state of its own: font size, sidebar visibility, export and clear. Main thread only.
class TranscriptionRootView : public QWidget {
    Q_OBJECT
public:
    static constexpr double minFontSize = 12.0;
    static constexpr double maxFontSize = 32.0;
    static inline const QString fontSizeKey = QString(settingKeys::transcriptFontSize);
    static inline const QString sidebarVisibleKey = QString(settingKeys::calendarSidebarVisible);

    // Where to export and the format of the file type the user chose in the dialog.
    struct ExportLocation {
        QString path;
        TranscriptExportFormat chosenFormat = TranscriptExportFormat::markdown;
    };
    // Answers the save location for a proposed file name; nothing when the user cancels.
    using SaveLocationChooser = std::function<std::optional<ExportLocation>(const QString& proposedName)>;
    // Answers whether the user confirmed clearing everything.
    using ClearConfirmation = std::function<bool()>;
    using ErrorReporter = std::function<void(const QString& message)>;

    TranscriptionRootView(TranscriptionViewModel* model, PreferencesStore* defaults, QWidget* parent = nullptr);
    ~TranscriptionRootView() override;

    TranscriptionViewModel* model() const { return m_model; }
    // Shows the offer to download a missing speech model under the control bar; the offer must outlive the view.
    void showModelDownloadOffer(ModelDownloadOffer* offer);
    LiveCaptionOverlayController* captionOverlay() const { return m_captionOverlay; }
    // The toolbar item that shows and hides the calendar sidebar; the window puts it in its toolbar.
    QAction* sidebarToggleAction() const { return m_sidebarToggle; }

    double fontSize() const { return m_fontSize; }
    void setFontSize(double size);
    void makeFontSmaller();
    void makeFontLarger();
    bool calendarSidebarVisible() const;
    void setCalendarSidebarVisible(bool visible);

    // Export as the button does it: nothing without lines; asks for a location and a format (Markdown, SRT,
    // WebVTT or text; an extension typed in the name wins over the chosen file type); writes UTF-8 atomically.
    void exportTranscript();
    // The format a location is written in.
    static TranscriptExportFormat exportFormat(const ExportLocation& location);
    // As the "記録を消去" button: asks, and clears only when confirmed.
    void requestClearAll();
    bool showClearConfirm() const { return m_showClearConfirm; }
    void setSaveLocationChooser(SaveLocationChooser chooser) { m_chooseSaveLocation = std::move(chooser); }
    void setClearConfirmation(ClearConfirmation confirm) { m_confirmClear = std::move(confirm); }
    void setErrorReporter(ErrorReporter report) { m_reportError = std::move(report); }

    // The sections, for the window's tests and accessibility.
    ControlBarView* controlBar() const { return m_controlBar; }
    LiveTranscriptView* liveTranscript() const { return m_liveTranscript; }
    BrowsingTranscriptView* browsingView() const { return m_browsingView; }
    QWidget* liveView() const { return m_liveView; }
    NoticeLogView* logSection() const { return m_logSection; }
    QuestionPanelView* questionPanel() const { return m_questionPanel; }
    CalendarSidebarView* calendarSidebar() const { return m_sidebar; }
    HistorySearchView* historySearch() const { return m_search; }
    QWidget* permissionHint() const { return m_permissionHint; }

    QPushButton* runButton() const;
    SourceControlView* sourceControl(AudioSourceID source) const;
    std::vector<WaveformView*> waveforms() const;
    QLabel* runningLabel() const;
    QToolButton* smallerButton() const;
    QToolButton* largerButton() const;
    QPushButton* exportButton() const;
    QPushButton* clearButton() const;
    QPushButton* jumpButton() const;
    QListView* transcriptList() const;
    QLineEdit* questionField() const;
    QLabel* volatileLabel() const;
    // The lines the live transcript and the browsing list show.
    TranscriptLineListModel* transcriptLines() const;
    TranscriptLineListModel* browsingLines() const;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::optional<ExportLocation> askSaveLocation(const QString& proposedName);
    bool askClearConfirmation();
    void buildSections();
    QWidget* makeTranscriptColumn();
    void installShortcuts();
    void followPreferences();
    void observeModel();
    void refreshBrowsing();
    void refreshPermissionHint();
    void refreshExportAndClear();
    void onReturnPressed();

    PreferencesStore* m_defaults;
    TranscriptionViewModel* m_model;
    LiveCaptionOverlayController* m_captionOverlay;
    bool m_showClearConfirm = false;
    double m_fontSize = 16.0;
    bool m_bootstrapped = false;
    QPointer<QWidget> m_watchedWindow;
    SaveLocationChooser m_chooseSaveLocation;
    ClearConfirmation m_confirmClear;
    ErrorReporter m_reportError;

    QAction* m_sidebarToggle = nullptr;
    QSplitter* m_splitter = nullptr;
    ControlBarView* m_controlBar = nullptr;
    QStackedWidget* m_transcriptStack = nullptr;
    QWidget* m_liveView = nullptr;
    QuestionPanelView* m_questionPanel = nullptr;
    QWidget* m_permissionHint = nullptr;
    LiveTranscriptView* m_liveTranscript = nullptr;
    BrowsingTranscriptView* m_browsingView = nullptr;
    NoticeLogView* m_logSection = nullptr;
    CalendarSidebarView* m_sidebar = nullptr;
    HistorySearchView* m_search = nullptr;
};

} // namespace tc
