#pragma once

#include <QObject>
#include <memory>
#include <vector>

class QApplication;

namespace tc {

class SparkleUpdaterAdapter;
class TranscriptionMainWindow;
class TranscriptionViewModel;
class PreferencesStore;

// The application shell: settings, the process-wide updater, the window, quitting cleanly on SIGTERM and
// SIGINT. Main thread only.
// Not a Q_OBJECT, so linking the shell's library alone does not pull in the application's adapters.
class TranscriptionCorvaneApp : public QObject {
public:
    // Chooses the display back end before Qt starts: on Wayland with XWayland present, X11, so the caption
    // panel can stay above other windows. Call before creating the QApplication.
    static void preparePlatform();
    // Runs the window until the user quits; the process's exit status.
    static int main(int argc, char** argv);

    // Builds the presentation model over the application's own adapters, the window showing it, and shows it.
    explicit TranscriptionCorvaneApp(QApplication& app);
    ~TranscriptionCorvaneApp() override;

    TranscriptionViewModel* model() const { return m_model.get(); }
    TranscriptionMainWindow* mainWindow() const { return m_window.get(); }
    // Shows the window unminimised, raised and active (a later launch asked for it).
    void bringToFront();
    PreferencesStore* defaults() const { return m_defaults.get(); }

private:
    void useJapaneseFont(QApplication& app);
    void quitOnTerminationSignals();

    std::unique_ptr<PreferencesStore> m_defaults;
    std::unique_ptr<SparkleUpdaterAdapter> m_updater;
    // Outlives the window that shows it.
    std::unique_ptr<TranscriptionViewModel> m_model;
    std::unique_ptr<TranscriptionMainWindow> m_window;
    // Set when SIGTERM, SIGINT or SIGHUP ends the app rather than the user.
    bool m_quitBySignal = false;
};

} // namespace tc
