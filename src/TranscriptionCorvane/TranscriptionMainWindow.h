#pragma once

#include "TranscriptionUI/TranscriptionViewModel.h"

#include <QMainWindow>

#include <memory>

namespace tc {

class LiveCaptionCommands;
class ModelDownloadOffer;
class SpeechModelInstaller;
class SettingsWindow;
class TranscriptionRootView;
class UpdaterCommands;
class UpdaterPort;
class PreferencesStore;

// One application window: the transcript content, the file menu with the settings window, the caption menu, the
// help menu with the update check and the calendar button at the end of the menu row.
class TranscriptionMainWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int minimumWidth = 760;
    static constexpr int minimumHeight = 480;

    // Shows the model, which must outlive the window; updater may be null (no update feed configured).
    TranscriptionMainWindow(TranscriptionViewModel* model, PreferencesStore* defaults, UpdaterPort* updater,
                            QWidget* parent = nullptr);

    TranscriptionRootView* rootView() const { return m_root; }
    LiveCaptionCommands* captionCommands() const { return m_captionCommands; }
    UpdaterCommands* updaterCommands() const { return m_updaterCommands; }
    // "設定…" (Ctrl+,).
    QAction* settingsAction() const { return m_settingsAction; }
    // Shows the settings window, building it on first use.
    SettingsWindow* showSettings();
    // The offer to download the speech model the next run uses when it is missing or damaged.
    ModelDownloadOffer* modelDownloadOffer() const { return m_modelDownload; }

private:
    TranscriptionRootView* m_root;
    LiveCaptionCommands* m_captionCommands;
    UpdaterCommands* m_updaterCommands;
    TranscriptionViewModel* m_model;
    PreferencesStore* m_defaults;
    QAction* m_settingsAction;
    SettingsWindow* m_settings = nullptr;
    // One installer for the settings and the model download, so their installs take turns in one place.
    std::shared_ptr<SpeechModelInstaller> m_installer;
    ModelDownloadOffer* m_modelDownload;
};

} // namespace tc
