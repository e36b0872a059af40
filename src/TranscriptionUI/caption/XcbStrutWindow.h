#pragma once

#include <QRect>
#include <cstdint>
#include <memory>

struct xcb_connection_t;

namespace tc {

// An invisible window of the dock type that asks the window manager to keep a strip along the top or bottom
// edge of the screen free of other windows (_NET_WM_STRUT_PARTIAL). It is drawn nowhere, takes no input and
// no focus, is on every workspace and in no task bar. X11 only. Main thread only.
class XcbStrutWindow {
public:
    enum class Edge { top, bottom };

    // Null outside X11 (or XWayland).
    static std::unique_ptr<XcbStrutWindow> create();
    ~XcbStrutWindow();
    XcbStrutWindow(const XcbStrutWindow&) = delete;
    XcbStrutWindow& operator=(const XcbStrutWindow&) = delete;

    // Reserves the strip (root-window pixels) that touches this edge of the screen, mapping the window.
    void reserve(Edge edge, const QRect& strip);
    // Gives the strip back by unmapping the window; nothing when none is reserved.
    void release();
    bool isReserving() const { return m_mapped; }
    std::uint32_t windowId() const { return m_window; }

private:
    XcbStrutWindow(xcb_connection_t* connection, std::uint32_t window, std::uint32_t root);

    xcb_connection_t* m_connection;
    std::uint32_t m_window;
    std::uint32_t m_root;
    bool m_mapped = false;
};

} // namespace tc
