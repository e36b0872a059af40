#pragma once

#include <QWidget>
#include <optional>

class QAction;
class QActionGroup;
class QMenu;
class QToolButton;

namespace tc {

class LiveCaptionOverlayModel;
class LiveCaptionOverlayView;
class PreferencesStore;
class XcbOverlayStacking;

// The caption window: frameless, translucent, above other windows on every workspace, never focused or
// activating the application. Floating, dragging anywhere on the caption moves it and every move is remembered
// under its autosave name; docked, it stays where it is put. Its menu (right click, or the small button shown
// while clicks pass through it) switches click-through and the placement and hides it.
class LiveCaptionOverlayPanel : public QWidget {
    Q_OBJECT
public:
    // How the panel stays above other windows.
    enum class WindowKind {
        // X11: a window the window manager does not manage, raised again whenever another one is put above it.
        overlay,
        // A tool window that asks the window manager to keep it above (the only way outside X11).
        managed,
    };
    // overlay under X11, unless TC_CAPTION_MANAGED_WINDOW=1 asks for the managed window.
    static WindowKind preferredKind();

    LiveCaptionOverlayPanel(LiveCaptionOverlayModel* model, PreferencesStore* defaults, QString frameAutosaveName,
                            QSize size, WindowKind kind = preferredKind());
    ~LiveCaptionOverlayPanel() override;

    WindowKind kind() const { return m_kind; }
    LiveCaptionOverlayView* view() const { return m_view; }
    // The frame saved under the autosave name, when there is one that still lies on a screen.
    std::optional<QRect> savedFrame() const;
    void saveFrame();
    // A docked panel is not dragged and its frame is not saved.
    void setDocked(bool docked);
    bool isDocked() const { return m_docked; }
    // Clicks pass through to the windows below, except on the menu button shown meanwhile.
    void setClickThrough(bool clickThrough);
    bool isClickThrough() const { return m_clickThrough; }
    QMenu* menu() const { return m_menu; }
    QToolButton* menuButton() const { return m_menuButton; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void buildMenu();
    void showMenuState();
    void updateInputShape();

    WindowKind m_kind;
    LiveCaptionOverlayView* m_view;
    PreferencesStore* m_defaults;
    QString m_frameAutosaveName;
    std::optional<QPoint> m_dragOffset;
    bool m_docked = false;
    bool m_clickThrough = false;
    XcbOverlayStacking* m_stacking = nullptr;
    QMenu* m_menu = nullptr;
    QAction* m_clickThroughAction = nullptr;
    QActionGroup* m_placementActions = nullptr;
    QToolButton* m_menuButton = nullptr;
};

} // namespace tc
