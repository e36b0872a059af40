#include "TranscriptionCorvane/TranscriptionMainWindow.h"

#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/TranscriptionRootView.h"
#include "TranscriptionUI/UpdaterCommands.h"
#include "TranscriptionUI/caption/LiveCaptionCommands.h"
#include "TranscriptionUI/caption/LiveCaptionOverlayController.h"
#include "TranscriptionUI/settings/CalendarSourcesSection.h"
#include "TranscriptionUI/settings/SettingsModel.h"
#include "TranscriptionUI/window/CalendarSidebarView.h"
#include "TranscriptionUI/settings/SettingsWindow.h"

#include <QApplication>
#include <QMenuBar>
#include <QMessageBox>
#include <QTabWidget>
#include <QToolBar>

namespace tc {

TranscriptionMainWindow::TranscriptionMainWindow(TranscriptionViewModel* model, PreferencesStore* defaults,
                                                 UpdaterPort* updater, QWidget* parent)
    : QMainWindow(parent), m_root(new TranscriptionRootView(model, defaults, this)),
      m_captionCommands(new LiveCaptionCommands(defaults, this)), m_updaterCommands(new UpdaterCommands(updater, this)),
      m_model(model), m_defaults(defaults)
{
    setCentralWidget(m_root);
    setMinimumSize(minimumWidth, minimumHeight);
    resize(980, 640);
    setWindowTitle(QStringLiteral("文字起こし"));

    auto* toolbar = addToolBar(QStringLiteral("ツールバー"));
    toolbar->setObjectName(QStringLiteral("mainToolbar"));
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    auto* spacer = new QWidget(toolbar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(spacer);
    toolbar->addAction(m_root->sidebarToggleAction());

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

    connect(m_root->calendarSidebar(), &CalendarSidebarView::addSourceRequested, this, [this] {
        SettingsWindow* settings = showSettings();
        if (auto* page = settings->findChild<CalendarSourcesSection*>()) settings->pages()->setCurrentWidget(page);
    });

    // A language model chosen in the settings answers the next question; nothing needs a restart of the app.
    connect(m_defaults, &PreferencesStore::valueChanged, this, [this](const QString& key) {
        if (key == SettingsModel::languageModelKey)
            m_model->useLanguageModel(m_defaults->value(key).toString().toStdString());
        // A device chosen while transcribing is taken at once, as a source toggle is: the run restarts and
        // the session's lines stay.
        if ((key == SettingsModel::microphoneKey || key == SettingsModel::systemAudioKey) && m_model->isRunning())
            m_model->restartTranscription();
    });
}

SettingsWindow* TranscriptionMainWindow::showSettings()
{
    if (!m_settings) {
        auto dependencies = SettingsModel::defaultDependencies();
        dependencies.sessionCount = [model = m_model] { return model->allSessions().size(); };
        dependencies.resetCaptionPosition = [overlay = m_root->captionOverlay()] { overlay->resetFrame(); };
        dependencies.calendarSources = m_model->calendarSources();
        m_settings = new SettingsWindow(new SettingsModel(m_defaults, std::move(dependencies), this), this);
    }
    m_settings->show();
    m_settings->raise();
    m_settings->activateWindow();
    return m_settings;
}

} // namespace tc
