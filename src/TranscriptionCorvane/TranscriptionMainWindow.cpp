#include "TranscriptionCorvane/TranscriptionMainWindow.h"

#include "TranscriptionUI/TranscriptionRootView.h"
#include "TranscriptionUI/UpdaterCommands.h"
#include "TranscriptionUI/caption/LiveCaptionCommands.h"

#include <QApplication>
#include <QMenuBar>
#include <QMessageBox>
#include <QToolBar>

namespace tc {

TranscriptionMainWindow::TranscriptionMainWindow(TranscriptionViewModel* model, PreferencesStore* defaults,
                                                 UpdaterPort* updater, QWidget* parent)
    : QMainWindow(parent), m_root(new TranscriptionRootView(model, defaults, this)),
      m_captionCommands(new LiveCaptionCommands(defaults, this)), m_updaterCommands(new UpdaterCommands(updater, this))
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
}

} // namespace tc
