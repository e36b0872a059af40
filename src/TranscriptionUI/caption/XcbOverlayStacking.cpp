#include "TranscriptionUI/caption/XcbOverlayStacking.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWindow>

#ifdef TC_HAVE_XCB
#include "TranscriptionUI/caption/XcbAtom.h"

#include <QtGui/qguiapplication_platform.h>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>
#include <xcb/shape.h>
#include <xcb/xcb.h>
#endif

namespace tc {

#ifdef TC_HAVE_XCB
namespace {

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

xcb_connection_t* connection()
{
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootOf(xcb_connection_t* connection)
{
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    return screen ? screen->root : xcb_window_t{XCB_NONE};
}

// What this client itself asked to hear on the root window; Qt listens there too, so ours is added to it.
std::uint32_t ownRootEventMask(xcb_connection_t* connection, xcb_window_t root)
{
    Reply<xcb_get_window_attributes_reply_t> reply(
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, root), nullptr), &std::free);
    return reply ? reply->your_event_mask : 0;
}

constexpr std::uint32_t watchedRootEvents = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;

} // namespace
#endif

bool XcbOverlayStacking::isAvailable()
{
#ifdef TC_HAVE_XCB
    return connection() != nullptr;
#else
    return false;
#endif
}

XcbOverlayStacking::XcbOverlayStacking(QWindow* window, QObject* parent) : QObject(parent), m_window(window)
{
#ifdef TC_HAVE_XCB
    if (xcb_connection_t* c = connection()) {
        m_activeWindowAtom = xcbAtom(c, "_NET_ACTIVE_WINDOW");
        m_stackingAtom = xcbAtom(c, "_NET_CLIENT_LIST_STACKING");
    }
#endif
}

XcbOverlayStacking::~XcbOverlayStacking()
{
    setActive(false);
}

void XcbOverlayStacking::setActive(bool active)
{
#ifdef TC_HAVE_XCB
    xcb_connection_t* c = connection();
    if (!c || active == m_active) return;
    m_active = active;
    const xcb_window_t root = rootOf(c);
    if (active) {
        m_rootEventMask = ownRootEventMask(c, root);
        const std::uint32_t mask = m_rootEventMask | watchedRootEvents;
        xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
        QCoreApplication::instance()->installNativeEventFilter(this);
        raiseIfCovered();
    } else {
        QCoreApplication::instance()->removeNativeEventFilter(this);
        xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &m_rootEventMask);
    }
    xcb_flush(c);
#else
    (void)active;
#endif
}

bool XcbOverlayStacking::raiseIfCovered()
{
#ifdef TC_HAVE_XCB
    xcb_connection_t* c = connection();
    if (!c || !m_window || !m_window->isVisible()) return false;
    const auto own = static_cast<xcb_window_t>(m_window->winId());
    const xcb_window_t root = rootOf(c);
    Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr), &std::free);
    if (!tree) return false;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const int count = xcb_query_tree_children_length(tree.get());
    // Bottom to top: what lies after our window is above it.
    int position = 0;
    while (position < count && children[position] != own)
        ++position;
    if (position == count) return false;
    std::vector<xcb_get_window_attributes_cookie_t> cookies;
    for (int i = position + 1; i < count; ++i)
        cookies.push_back(xcb_get_window_attributes(c, children[i]));
    bool covered = false;
    for (const auto& cookie : cookies) {
        Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(c, cookie, nullptr),
                                                            &std::free);
        if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE && !attributes->override_redirect)
            covered = true;
    }
    if (!covered) return false;
    const std::uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(c, own, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    xcb_flush(c);
    Q_EMIT raised();
    return true;
#else
    return false;
#endif
}

void XcbOverlayStacking::setInputRegion(QWindow* window, const QRegion& region)
{
#ifdef TC_HAVE_XCB
    xcb_connection_t* c = connection();
    if (!c || !window) return;
    const double ratio = window->devicePixelRatio();
    std::vector<xcb_rectangle_t> rectangles;
    for (const QRect& rect : region) {
        const QRect scaled(QPoint(qRound(rect.x() * ratio), qRound(rect.y() * ratio)),
                           QSize(qRound(rect.width() * ratio), qRound(rect.height() * ratio)));
        rectangles.push_back({static_cast<std::int16_t>(scaled.x()), static_cast<std::int16_t>(scaled.y()),
                              static_cast<std::uint16_t>(scaled.width()), static_cast<std::uint16_t>(scaled.height())});
    }
    xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_UNSORTED,
                         static_cast<xcb_window_t>(window->winId()), 0, 0,
                         static_cast<std::uint32_t>(rectangles.size()), rectangles.data());
    xcb_flush(c);
#else
    (void)window;
    (void)region;
#endif
}

void XcbOverlayStacking::resetInputRegion(QWindow* window)
{
#ifdef TC_HAVE_XCB
    xcb_connection_t* c = connection();
    if (!c || !window) return;
    xcb_shape_mask(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, static_cast<xcb_window_t>(window->winId()), 0, 0, XCB_NONE);
    xcb_flush(c);
#else
    (void)window;
#endif
}

bool XcbOverlayStacking::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
#ifdef TC_HAVE_XCB
    if (!m_active || eventType != "xcb_generic_event_t") return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    xcb_connection_t* c = connection();
    if (!c || !m_window) return false;
    const xcb_window_t root = rootOf(c);
    const auto own = static_cast<xcb_window_t>(m_window->winId());
    switch (event->response_type & ~0x80) {
    case XCB_CONFIGURE_NOTIFY: {
        const auto* configure = reinterpret_cast<xcb_configure_notify_event_t*>(event);
        if (configure->event == root && configure->window != own) scheduleCheck();
        break;
    }
    case XCB_MAP_NOTIFY: {
        const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
        if (map->event == root && map->window != own) scheduleCheck();
        break;
    }
    case XCB_CIRCULATE_NOTIFY: {
        const auto* circulate = reinterpret_cast<xcb_circulate_notify_event_t*>(event);
        if (circulate->event == root && circulate->window != own) scheduleCheck();
        break;
    }
    case XCB_PROPERTY_NOTIFY: {
        const auto* property = reinterpret_cast<xcb_property_notify_event_t*>(event);
        if (property->window == root && (property->atom == m_activeWindowAtom || property->atom == m_stackingAtom))
            scheduleCheck();
        break;
    }
    default: break;
    }
#else
    (void)eventType;
    (void)message;
#endif
    return false;
}

void XcbOverlayStacking::scheduleCheck()
{
    // A window manager restacks in bursts; one look at the stack after the burst is enough.
    if (m_checkPending) return;
    m_checkPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_checkPending = false;
            raiseIfCovered();
        },
        Qt::QueuedConnection);
}

} // namespace tc
