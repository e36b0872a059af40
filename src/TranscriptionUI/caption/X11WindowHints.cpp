#include "TranscriptionUI/caption/X11WindowHints.h"

#include <QGuiApplication>
#include <QWindow>

#ifdef TC_HAVE_XCB
#include "TranscriptionUI/caption/XcbAtom.h"

#include <QtGui/qguiapplication_platform.h>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>
#endif

namespace tc {

#ifdef TC_HAVE_XCB
namespace {

void sendClientMessage(xcb_connection_t* connection, xcb_window_t root, xcb_window_t window, xcb_atom_t type,
                       std::uint32_t d0, std::uint32_t d1)
{
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    event.data.data32[0] = d0;
    event.data.data32[1] = d1;
    event.data.data32[3] = 1; // source: a normal application
    xcb_send_event(connection, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
}

} // namespace
#endif

void X11WindowHints::showOnAllWorkspaces(QWindow* window)
{
#ifdef TC_HAVE_XCB
    if (!window || QGuiApplication::platformName() != QStringLiteral("xcb")) return;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection()) return;
    xcb_connection_t* connection = x11->connection();
    const auto id = static_cast<xcb_window_t>(window->winId());
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(setup).data;
    if (!screen) return;

    const xcb_atom_t desktop = xcbAtom(connection, "_NET_WM_DESKTOP");
    const xcb_atom_t state = xcbAtom(connection, "_NET_WM_STATE");
    const xcb_atom_t sticky = xcbAtom(connection, "_NET_WM_STATE_STICKY");
    const std::uint32_t allDesktops = 0xFFFFFFFF;
    if (desktop != XCB_ATOM_NONE) {
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, desktop, XCB_ATOM_CARDINAL, 32, 1, &allDesktops);
        sendClientMessage(connection, screen->root, id, desktop, allDesktops, 0);
    }
    if (state != XCB_ATOM_NONE && sticky != XCB_ATOM_NONE)
        sendClientMessage(connection, screen->root, id, state, 1 /* add */, sticky);
    xcb_flush(connection);
#else
    (void)window;
#endif
}

bool X11WindowHints::hasCompositingManager()
{
#ifdef TC_HAVE_XCB
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) return true;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection()) return true;
    xcb_connection_t* connection = x11->connection();
    const xcb_atom_t selection = xcbAtom(connection, "_NET_WM_CM_S0");
    if (selection == XCB_ATOM_NONE) return false;
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> reply(
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr), &std::free);
    return reply && reply->owner != XCB_NONE;
#else
    return true;
#endif
}

} // namespace tc
