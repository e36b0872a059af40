#include "TranscriptionCorvane/TranscriptionMainWindow.h"

#include "TranscriptionCorvane/ApplicationWiring.h"
#include "TranscriptionInfrastructure/speech/SpeechModelInstaller.h"
#include "TranscriptionInfrastructure/speech/SpeechModelManager.h"
#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/TranscriptionRootView.h"
#include "TranscriptionUI/UpdaterCommands.h"
#include "TranscriptionUI/caption/LiveCaptionCommands.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayController.h"
#include "TranscriptionUI/presentation/ModelDownloadOffer.h"
#include "TranscriptionUI/settings/CalendarSourcesSection.h"
#include "TranscriptionUI/settings/ConsentSection.h"
#include "TranscriptionUI/settings/SettingsModel.h"
#include "TranscriptionUI/settings/SettingsWindow.h"
#include "TranscriptionUI/window/CalendarSidebarView.h"

#include <QApplication>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>

#include <algorithm>

namespace tc {

TranscriptionMainWindow::TranscriptionMainWindow(TranscriptionViewModel* model, PreferencesStore* defaults,
                                                 UpdaterPort* updater, QWidget* parent)
    : QMainWindow(parent), m_root(new TranscriptionRootView(model, defaults, this)),
      m_captionCommands(new LiveCaptionCommands(defaults, this)), m_updaterCommands(new UpdaterCommands(updater, this)),
      m_model(model), m_defaults(defaults), m_installer(std::make_shared<SpeechModelInstaller>()),
      m_modelDownload(new ModelDownloadOffer(ApplicationWiring::modelDownloadOffer(m_installer), this))
{
    setCentralWidget(m_root);
    setMinimumSize(minimumWidth, minimumHeight);
    resize(980, 640);
    setWindowTitle(QStringLiteral("文字起こし"));

    // The calendar's one button sits at the end of the menu row: a toolbar of its own would be an empty row.
    auto* sidebarButton = new QToolButton(menuBar());
    sidebarButton->setObjectName(QStringLiteral("sidebarButton"));
    sidebarButton->setDefaultAction(m_root->sidebarToggleAction());
    sidebarButton->setAutoRaise(true);
    sidebarButton->setToolButtonStyle(Qt::ToolButtonIconOnly);
    menuBar()->setCornerWidget(sidebarButton, Qt::TopRightCorner);

    QMenu* file = menuBar()->addMenu(QStringLiteral("ファイル"));
    m_settingsAction = file->addAction(QStringLiteral("設定…"), this, [this] { showSettings(); });
    // Ctrl+, as well: the platform's preferences key is not bound on every desktop. Listed once only, as the
    // same key twice on one action would be ambiguous and trigger nothing.
    QList<QKeySequence> settingsKeys = QKeySequence::keyBindings(QKeySequence::Preferences);
    if (!settingsKeys.contains(QKeySequence(Qt::CTRL | Qt::Key_Comma)))
        settingsKeys.append(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    m_settingsAction->setShortcuts(settingsKeys);
    m_settingsAction->setMenuRole(QAction::PreferencesRole);
    file->addSeparator();
    QAction* quit = file->addAction(QStringLiteral("終了"), qApp, &QApplication::quit);
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);

    m_captionCommands->install(menuBar());

    QMenu* help = menuBar()->addMenu(QStringLiteral("ヘルプ"));
    QAction* about = help->addAction(QStringLiteral("transcription-corvane について"), this, [this] {
        QMessageBox::about(
            this, QStringLiteral("transcription-corvane について"),
            QStringLiteral("transcription-corvane %1\n日本語の音声をこのコンピュータの中だけで文字起こしします。")
                .arg(QApplication::applicationVersion()));
    });
    about->setMenuRole(QAction::AboutRole);
    m_updaterCommands->install(help, about);

    // A first run needs no terminal: a missing or damaged speech model is offered for download here, and the
    // transcription starts once it is in place.
    m_root->showModelDownloadOffer(m_modelDownload);
    const auto nextRunModel = [this] {
        const std::string chosen = m_defaults->value(SettingsModel::speechModelKey).toString().toStdString();
        return chosen.empty() ? SpeechModelManager::defaultModelName() : chosen;
    };
    m_modelDownload->check(nextRunModel());
    connect(m_modelDownload, &ModelDownloadOffer::installed, this, [this] {
        if (m_model->runControl().isRunning())
            m_model->runControl().restart();
        else
            m_model->startTranscription();
    });
    connect(m_root->calendarSidebar(), &CalendarSidebarView::addSourceRequested, this, [this] {
        SettingsWindow* settings = showSettings();
        if (auto* page = settings->findChild<CalendarSourcesSection*>()) settings->pages()->setCurrentWidget(page);
    });

    // A language model chosen in the settings answers the next question; nothing needs a restart of the app.
    connect(m_defaults, &PreferencesStore::valueChanged, this, [this, nextRunModel](const QString& key) {
        if (key == SettingsModel::speechModelKey) m_modelDownload->check(nextRunModel());
        if (key == SettingsModel::languageModelKey)
            m_model->useLanguageModel(m_defaults->value(key).toString().toStdString());
        // A device chosen while transcribing is taken at once, as a source toggle is: the run restarts and
        // the session's lines stay.
        if ((key == SettingsModel::microphoneKey || key == SettingsModel::systemAudioKey) &&
            m_model->runControl().isRunning())
            m_model->runControl().restart();
    });
}

SettingsWindow* TranscriptionMainWindow::showSettings()
{
    if (!m_settings) {
        auto dependencies = ApplicationWiring::settings(m_installer);
        dependencies.sessionCount = [model = m_model] { return model->allSessions().size(); };
        dependencies.resetCaptionPosition = [overlay = m_root->captionOverlay()] { overlay->resetFrame(); };
        dependencies.calendarSources = m_model->calendarSources();
        m_settings = new SettingsWindow(new SettingsModel(m_defaults, std::move(dependencies), this), this);
        m_settings->pages()->addTab(
            new ConsentSection(&m_model->sourceAccess(), &m_model->calendarBrowsing(), m_settings->pages()),
            QStringLiteral("許可"));
    }
    // Over the window it was opened from, not where the window system puts a new window (often a corner).
    if (!m_settings->isVisible()) {
        const QSize size = m_settings->size().expandedTo(m_settings->minimumSizeHint());
        QRect frame = QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size, frameGeometry());
        if (const QScreen* screen = this->screen()) {
            const QRect available = screen->availableGeometry();
            frame.moveLeft(std::max(available.left(), std::min(frame.left(), available.right() + 1 - frame.width())));
            frame.moveTop(std::max(available.top(), std::min(frame.top(), available.bottom() + 1 - frame.height())));
        }
        m_settings->move(frame.topLeft());
    }
    m_settings->show();
    m_settings->raise();
    m_settings->activateWindow();
    return m_settings;
}

} // namespace tc
