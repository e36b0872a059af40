#include "TranscriptionUI/caption/XcbStrutWindow.h"

#include <QGuiApplication>

#ifdef TC_HAVE_XCB
#include "TranscriptionUI/caption/XcbAtom.h"

#include <QtGui/qguiapplication_platform.h>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <xcb/shape.h>
#include <xcb/xcb.h>
#endif

namespace tc {

#ifdef TC_HAVE_XCB
namespace {

void setAtoms(xcb_connection_t* c, xcb_window_t window, const char* property, std::initializer_list<const char*> names)
{
    std::vector<xcb_atom_t> values;
    for (const char* name : names)
        values.push_back(xcbAtom(c, name));
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, xcbAtom(c, property), XCB_ATOM_ATOM, 32,
                        static_cast<std::uint32_t>(values.size()), values.data());
}

} // namespace
#endif

std::unique_ptr<XcbStrutWindow> XcbStrutWindow::create()
{
#ifdef TC_HAVE_XCB
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c) return nullptr;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (!screen) return nullptr;

    const xcb_window_t window = xcb_generate_id(c);
    const std::uint32_t values[] = {XCB_BACK_PIXMAP_NONE, 0};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXMAP | XCB_CW_OVERRIDE_REDIRECT, values);
    // Nothing of it is drawn and no click lands on it.
    for (const auto kind : {XCB_SHAPE_SK_BOUNDING, XCB_SHAPE_SK_INPUT})
        xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, kind, XCB_CLIP_ORDERING_UNSORTED, window, 0, 0, 0, nullptr);

    setAtoms(c, window, "_NET_WM_WINDOW_TYPE", {"_NET_WM_WINDOW_TYPE_DOCK"});
    setAtoms(c, window, "_NET_WM_STATE",
             {"_NET_WM_STATE_STICKY", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"});
    const std::uint32_t allDesktops = 0xFFFFFFFF;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, xcbAtom(c, "_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL, 32, 1,
                        &allDesktops);
    // WM_HINTS with the input field false: the window manager never gives it the keyboard.
    const std::array<std::uint32_t, 9> hints{1, 0, 0, 0, 0, 0, 0, 0, 0};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32,
                        static_cast<std::uint32_t>(hints.size()), hints.data());
    const char name[] = "ライブ字幕の領域";
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, xcbAtom(c, "_NET_WM_NAME"), xcbAtom(c, "UTF8_STRING"), 8,
                        sizeof(name) - 1, name);
    const char windowClass[] = "transcription-corvane\0transcription-corvane";
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, sizeof(windowClass),
                        windowClass);
    xcb_flush(c);
    return std::unique_ptr<XcbStrutWindow>(new XcbStrutWindow(c, window, screen->root));
#else
    return nullptr;
#endif
}

XcbStrutWindow::XcbStrutWindow(xcb_connection_t* connection, std::uint32_t window, std::uint32_t root)
    : m_connection(connection), m_window(window), m_root(root)
{}

XcbStrutWindow::~XcbStrutWindow()
{
#ifdef TC_HAVE_XCB
    xcb_destroy_window(m_connection, m_window);
    xcb_flush(m_connection);
#endif
}

void XcbStrutWindow::reserve(Edge edge, const QRect& strip)
{
#ifdef TC_HAVE_XCB
    xcb_connection_t* c = m_connection;
    std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> root(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, m_root), nullptr), &std::free);
    if (!root || strip.isEmpty()) return;
    // Left, right, top, bottom, then the start and end of each along its edge; measured from the root's edges.
    std::array<std::uint32_t, 12> strut{};
    const auto left = static_cast<std::uint32_t>(std::max(0, strip.left()));
    const auto right = static_cast<std::uint32_t>(std::max(0, strip.right()));
    if (edge == Edge::top) {
        strut[2] = static_cast<std::uint32_t>(std::max(0, strip.bottom() + 1));
        strut[8] = left;
        strut[9] = right;
    } else {
        strut[3] = static_cast<std::uint32_t>(std::max(0, root->height - strip.top()));
        strut[10] = left;
        strut[11] = right;
    }
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, m_window, xcbAtom(c, "_NET_WM_STRUT_PARTIAL"), XCB_ATOM_CARDINAL, 32,
                        static_cast<std::uint32_t>(strut.size()), strut.data());
    // The older four-value form, for window managers that read only that.
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, m_window, xcbAtom(c, "_NET_WM_STRUT"), XCB_ATOM_CARDINAL, 32, 4,
                        strut.data());
    const std::uint32_t geometry[] = {static_cast<std::uint32_t>(strip.x()), static_cast<std::uint32_t>(strip.y()),
                                      static_cast<std::uint32_t>(strip.width()),
                                      static_cast<std::uint32_t>(strip.height())};
    xcb_configure_window(c, m_window,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
                         geometry);
    if (!m_mapped) xcb_map_window(c, m_window);
    m_mapped = true;
    xcb_flush(c);
#else
    (void)edge;
    (void)strip;
#endif
}

void XcbStrutWindow::release()
{
#ifdef TC_HAVE_XCB
    if (!m_mapped) return;
    xcb_unmap_window(m_connection, m_window);
    // ICCCM: a client withdrawing its window tells the window manager with a synthetic UnmapNotify as well.
    xcb_unmap_notify_event_t event{};
    event.response_type = XCB_UNMAP_NOTIFY;
    event.event = m_root;
    event.window = m_window;
    xcb_send_event(m_connection, 0, m_root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    m_mapped = false;
    xcb_flush(m_connection);
#endif
}

} // namespace tc
