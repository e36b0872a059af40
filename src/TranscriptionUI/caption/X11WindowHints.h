#pragma once

class QWindow;

namespace tc {

// Window-manager hints Qt has no API for. Does nothing outside X11 (or XWayland).
class X11WindowHints {
public:
    // Asks the window manager to show the window on every workspace (_NET_WM_STATE_STICKY, desktop
    // 0xFFFFFFFF). Safe to call again after every show.
    static void showOnAllWorkspaces(QWindow* window);
    // Whether a compositing manager runs, so translucent windows blend with what lies below; true outside X11.
    static bool hasCompositingManager();
};

} // namespace tc
