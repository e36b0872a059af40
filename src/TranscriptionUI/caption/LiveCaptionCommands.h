#pragma once

#include <QObject>

class QAction;
class QMenu;
class QMenuBar;

namespace tc {

class PreferencesStore;

// The "字幕" menu: a checkable item, Ctrl+Shift+L, that flips "liveCaptionOverlayVisible" in the user defaults,
// and "クリックを透過", Ctrl+Shift+T, that flips whether clicks pass through the panel; each follows every other
// writer of its key. It never talks to the overlay itself.
class LiveCaptionCommands : public QObject {
    Q_OBJECT
public:
    LiveCaptionCommands(PreferencesStore* defaults, QObject* parent = nullptr);

    // Adds the menu to the bar; call once per window.
    QMenu* install(QMenuBar* menuBar);
    bool overlayVisible() const;
    void setOverlayVisible(bool visible);
    QAction* toggleAction() const { return m_toggle; }
    QAction* clickThroughAction() const { return m_clickThrough; }

private:
    PreferencesStore* m_defaults;
    QAction* m_toggle;
    QAction* m_clickThrough;
};

} // namespace tc
