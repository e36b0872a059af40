#include "TranscriptionCorvane/TranscriptionCorvaneApp.h"

#include "TranscriptionCorvane/ApplicationLanguage.h"
#include "TranscriptionCorvane/ApplicationWiring.h"
#include "TranscriptionCorvane/SingleInstance.h"
#include "TranscriptionCorvane/SparkleUpdaterAdapter.h"
#include "TranscriptionCorvane/TranscriptionMainWindow.h"
#include "TranscriptionCorvane/UnsavedSessionRescue.h"
#include "TranscriptionCorvane/WindowStateDump.h"
#include "TranscriptionInfrastructure/history/TranscriptHistoryStore.h"
#include "TranscriptionInfrastructure/settings/SettingKeys.h"
#include "TranscriptionUI/PreferencesStore.h"
#include "TranscriptionUI/TranscriptionRootView.h"
#include "TranscriptionUI/TranscriptionViewModel.h"

#include <QApplication>
#include <QFontDatabase>
#include <QIcon>
#include <QMessageBox>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

namespace tc {

namespace {

int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here: the main loop reads the pipe.
    [[maybe_unused]] const auto written = ::write(g_signalPipe[0], &byte, 1);
}

} // namespace

void TranscriptionCorvaneApp::preparePlatform()
{
    // A plain Wayland client cannot keep a window above others; XWayland can.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("WAYLAND_DISPLAY") != nullptr &&
        std::getenv("DISPLAY") != nullptr)
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
}

TranscriptionCorvaneApp::TranscriptionCorvaneApp(QApplication& app) : m_defaults(std::make_unique<PreferencesStore>())
{
    useJapaneseFont(app);
    m_updater = SparkleUpdaterAdapter::makeIfConfigured(m_defaults.get(), QApplication::applicationVersion());
    auto dependencies = ApplicationWiring::viewModel();
    dependencies.settings = m_defaults->settings();
    m_model = std::make_unique<TranscriptionViewModel>(std::move(dependencies));
    m_window = std::make_unique<TranscriptionMainWindow>(m_model.get(), m_defaults.get(), m_updater.get());
    if (qEnvironmentVariableIsSet("TC_WINDOW_STATE_FILE"))
        new WindowStateDump(m_window->rootView(), qEnvironmentVariable("TC_WINDOW_STATE_FILE"), m_window.get());

    // Every line must reach the history before the process ends, however it ends.
    QObject::connect(&app, &QApplication::aboutToQuit, this, [this] {
        m_model->shutdown();
        m_defaults->sync();
        const auto& failure = m_model->historyAutosave().finalSaveError();
        if (!failure) return;
        // A signal is the session ending or a script: nobody to answer a dialog, so the message goes to stderr.
        if (m_quitBySignal) {
            std::fprintf(stderr, "%s\n", UnsavedSessionRescue::messageFor(*failure).toLocal8Bit().constData());
            return;
        }
        UnsavedSessionRescue::offer(*m_window->rootView(), UnsavedSessionRescue::messageBoxQuestion(m_window.get()));
    });
    quitOnTerminationSignals();
    m_window->show();
}

TranscriptionCorvaneApp::~TranscriptionCorvaneApp()
{
    m_window.reset();
    m_model.reset();
    m_updater.reset();
}

void TranscriptionCorvaneApp::bringToFront()
{
    m_window->setWindowState((m_window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void TranscriptionCorvaneApp::useJapaneseFont(QApplication& app)
{
    const QStringList families = QFontDatabase::families();
    for (const QString& family : {QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans JP"),
                                  QStringLiteral("IPAexGothic"), QStringLiteral("TakaoPGothic")}) {
        if (!families.contains(family)) continue;
        QFont font = app.font();
        font.setFamilies({family});
        app.setFont(font);
        return;
    }
}

void TranscriptionCorvaneApp::quitOnTerminationSignals()
{
    if (g_signalPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        [[maybe_unused]] const auto bytes = ::read(g_signalPipe[1], &byte, 1);
        m_quitBySignal = true;
        QApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
}

int TranscriptionCorvaneApp::main(int argc, char** argv)
{
    preparePlatform();
    QApplication app(argc, argv);
    ApplicationLanguage::install(app);
    QApplication::setOrganizationName(QString(settingKeys::storeName));
    QApplication::setApplicationName(QString(settingKeys::storeName));
    QApplication::setApplicationVersion(QStringLiteral(TC_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("io.github.corvane.TranscriptionCorvane"));
    // The installed icon theme has it; run from the build tree the window keeps the platform's default.
    QApplication::setWindowIcon(QIcon::fromTheme(QApplication::desktopFileName()));
    // A second window over the same history would write it too; the running one comes to the front instead.
    SingleInstance instance(TranscriptHistoryStore::defaultFileURL().parent_path());
    if (instance.outcome() != SingleInstance::Outcome::primary) {
        const QString message = SingleInstance::messageFor(instance.outcome());
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
        if (instance.outcome() == SingleInstance::Outcome::handedOver) return 0;
        QMessageBox::warning(nullptr, QStringLiteral("transcription-corvane"), message);
        return 1;
    }
    TranscriptionCorvaneApp shell(app);
    instance.onShowRequested([&shell] { shell.bringToFront(); });
    return QApplication::exec();
}

} // namespace tc
