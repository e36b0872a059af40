#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QRegion>
#include <cstdint>

class QWindow;

namespace tc {

// Keeps one override-redirect top-level window above every window the window manager manages, on X11: it
// raises the window again whenever the window manager maps, restacks or activates another one (root-window
// events, checked once per event burst; no timer). Other override-redirect windows (menus, tooltips) may
// stay above it. Also sets the window's input region, which Qt has no API for. Main thread only.
class XcbOverlayStacking : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    // Whether the application talks to an X server (X11 or XWayland) through xcb.
    static bool isAvailable();

    // Watches nothing until setActive(true); the window must outlive this object.
    explicit XcbOverlayStacking(QWindow* window, QObject* parent = nullptr);
    ~XcbOverlayStacking() override;

    // true starts watching the root window and raises the window at once; false stops watching.
    void setActive(bool active);
    bool isActive() const { return m_active; }
    // Raises the window when a viewable managed window lies above it; true when it raised it.
    bool raiseIfCovered();
    // Pointer input reaches only this region (window coordinates, logical pixels); the rest passes through
    // to the windows below. An empty region lets every click through.
    static void setInputRegion(QWindow* window, const QRegion& region);
    // Input follows the window's shape again.
    static void resetInputRegion(QWindow* window);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    // The window was raised over a window the window manager had put above it.
    void raised();

private:
    void scheduleCheck();

    QWindow* m_window;
    bool m_active = false;
    bool m_checkPending = false;
    std::uint32_t m_activeWindowAtom = 0;
    std::uint32_t m_stackingAtom = 0;
    // What this client listened to on the root window before.
    std::uint32_t m_rootEventMask = 0;
};

} // namespace tc
