#pragma once

#include "TranscriptionUI/TranscriptionViewModel.h"

#include <QMainWindow>

namespace tc {

class LiveCaptionCommands;
class TranscriptionRootView;
class UpdaterCommands;
class UpdaterPort;
class PreferencesStore;

// One application window: the transcript content, its toolbar, the caption menu and the help menu with the
// update check.
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

private:
    TranscriptionRootView* m_root;
    LiveCaptionCommands* m_captionCommands;
    UpdaterCommands* m_updaterCommands;
};

} // namespace tc
