#pragma once

#include <QObject>

class QAction;
class QMenu;
class QMenuBar;

namespace tc {

class PreferencesStore;

// The "字幕" menu: one checkable item, Ctrl+Shift+L, that flips "liveCaptionOverlayVisible" in the user
// defaults and follows every other writer of that key. It never talks to the overlay itself.
class LiveCaptionCommands : public QObject {
    Q_OBJECT
public:
    LiveCaptionCommands(PreferencesStore* defaults, QObject* parent = nullptr);

    // Adds the menu to the bar; call once per window.
    QMenu* install(QMenuBar* menuBar);
    bool overlayVisible() const;
    void setOverlayVisible(bool visible);
    QAction* toggleAction() const { return m_toggle; }

private:
    PreferencesStore* m_defaults;
    QAction* m_toggle;
};

} // namespace tc
