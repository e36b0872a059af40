#include "TranscriptionInfrastructure/calendar/EvolutionDataServerCalendarSource.h"

#include "TranscriptionInfrastructure/calendar/EvolutionDataServerCalendarMirror.h"

#include <libecal/libecal.h>
#include <libical/ical.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <system_error>

namespace tc {

namespace {

struct GFreeDeleter {
    void operator()(gchar* text) const { g_free(text); }
};
using OwnedText = std::unique_ptr<gchar, GFreeDeleter>;

// GLib would otherwise start a bus of its own through dbus-launch: a desktop without a session bus has no
// calendar service to talk to anyway.
bool sessionBusReachable()
{
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || *runtime != '/') return false;
    std::error_code error;
    return std::filesystem::exists(std::filesystem::path(runtime) / "bus", error);
}

using Mirror = EvolutionDataServerCalendarMirror;

struct Loop;

// One calendar's client and view; GLib thread only.
struct Connection {
    Loop* loop = nullptr;
    std::string uid;
    ECalClient* client = nullptr;
    ECalClientView* view = nullptr;
};

// The GLib thread's state; lives on that thread's stack until every callback that may still come has come.
struct Loop {
    Mirror* mirror = nullptr;
    GMainContext* context = nullptr;
    GCancellable* cancellable = nullptr;
    ESourceRegistry* registry = nullptr;
    std::map<std::string, std::unique_ptr<Connection>> connections;
    // Asynchronous calls started and not yet finished.
    int inFlight = 0;
};

// Names the async call a callback belongs to: the calendar may have gone meanwhile.
struct Pending {
    Loop* loop;
    std::string uid;
};

Connection* connectionOf(Loop& loop, const std::string& uid)
{
    const auto found = loop.connections.find(uid);
    return found == loop.connections.end() ? nullptr : found->second.get();
}

std::string problemText(const char* what, const GError* error)
{
    std::string text = std::string(what) + "（" + (error && error->message ? error->message : "不明なエラー") + "）";
    return text + "。Evolution やオンラインアカウントの設定を確かめてください。";
}

// Remembers the VTIMEZONEs a component refers to that libical cannot resolve by name (Outlook's "Tokyo
// Standard Time", a server's own TZIDs); asks the server for each once.
void collectZones(Connection& connection, ICalComponent* component, std::map<std::string, std::string>& zones)
{
    std::set<std::string> tzids;
    i_cal_component_foreach_tzid(
        component,
        [](ICalParameter* parameter, gpointer data) {
            if (const char* tzid = i_cal_parameter_get_tzid(parameter); tzid && *tzid)
                static_cast<std::set<std::string>*>(data)->insert(tzid);
        },
        &tzids);
    for (const auto& tzid : tzids) {
        if (zones.count(tzid) || icaltimezone_get_builtin_timezone(tzid.c_str())) continue;
        ICalTimezone* zone = nullptr;
        if (!e_cal_client_get_timezone_sync(connection.client, tzid.c_str(), &zone, connection.loop->cancellable,
                                            nullptr) ||
            !zone)
            continue;
        if (ICalComponent* vtimezone = i_cal_timezone_get_component(zone)) {
            OwnedText text(i_cal_component_as_ical_string(vtimezone));
            if (text) zones[tzid] = text.get();
            g_object_unref(vtimezone);
        }
    }
}

void onObjectsChanged(ECalClientView*, const GSList* objects, gpointer data)
{
    auto& connection = *static_cast<Connection*>(data);
    Mirror& mirror = *connection.loop->mirror;
    std::vector<Mirror::Component> components;
    std::map<std::string, std::string> zones = mirror.zones(connection.uid);
    for (const GSList* item = objects; item; item = item->next) {
        auto* component = static_cast<ICalComponent*>(item->data);
        const char* uid = i_cal_component_get_uid(component);
        if (!uid) continue;
        OwnedText rid(e_cal_util_component_get_recurid_as_string(component));
        OwnedText text(i_cal_component_as_ical_string(component));
        if (!text) continue;
        components.push_back({{uid, rid ? rid.get() : ""}, text.get()});
        collectZones(connection, component, zones);
    }
    mirror.update(connection.uid, components, std::move(zones));
}

void onObjectsRemoved(ECalClientView*, const GSList* ids, gpointer data)
{
    auto& connection = *static_cast<Connection*>(data);
    std::vector<Mirror::ComponentId> removed;
    for (const GSList* item = ids; item; item = item->next) {
        const auto* id = static_cast<const ECalComponentId*>(item->data);
        const char* uid = e_cal_component_id_get_uid(id);
        if (!uid) continue;
        const char* rid = e_cal_component_id_get_rid(id);
        removed.push_back({uid, rid ? rid : ""});
    }
    connection.loop->mirror->remove(connection.uid, removed);
}

void onViewComplete(ECalClientView*, const GError* error, gpointer data)
{
    auto& connection = *static_cast<Connection*>(data);
    connection.loop->mirror->finishListing(
        connection.uid, error ? std::optional(problemText("予定の一覧を読めませんでした", error)) : std::nullopt);
}

void onView(GObject* object, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
    Loop& loop = *pending->loop;
    --loop.inFlight;
    GError* error = nullptr;
    ECalClientView* view = nullptr;
    const bool ok = e_cal_client_get_view_finish(E_CAL_CLIENT(object), result, &view, &error);
    Connection* connection = connectionOf(loop, pending->uid);
    if (!ok || !connection || g_cancellable_is_cancelled(loop.cancellable)) {
        if (connection && error && !g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
            loop.mirror->setProblem(pending->uid, problemText("予定を見守れませんでした", error));
        if (view) g_object_unref(view);
        g_clear_error(&error);
        return;
    }
    connection->view = view;
    g_signal_connect(view, "objects-added", G_CALLBACK(onObjectsChanged), connection);
    g_signal_connect(view, "objects-modified", G_CALLBACK(onObjectsChanged), connection);
    g_signal_connect(view, "objects-removed", G_CALLBACK(onObjectsRemoved), connection);
    g_signal_connect(view, "complete", G_CALLBACK(onViewComplete), connection);
    e_cal_client_view_start(view, &error);
    if (error) {
        loop.mirror->setProblem(pending->uid, problemText("予定を見守れませんでした", error));
        g_clear_error(&error);
    }
}

void onConnected(GObject*, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
    Loop& loop = *pending->loop;
    --loop.inFlight;
    GError* error = nullptr;
    EClient* client = e_cal_client_connect_finish(result, &error);
    Connection* connection = connectionOf(loop, pending->uid);
    if (!client || !connection || g_cancellable_is_cancelled(loop.cancellable)) {
        if (connection && error && !g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
            loop.mirror->setProblem(pending->uid, problemText("カレンダーを開けませんでした", error));
        if (client) g_object_unref(client);
        g_clear_error(&error);
        return;
    }
    connection->client = E_CAL_CLIENT(client);
    ++loop.inFlight;
    e_cal_client_get_view(connection->client, "#t", loop.cancellable, onView, new Pending{&loop, pending->uid});
}

void dropConnection(Connection& connection)
{
    if (connection.view) {
        g_signal_handlers_disconnect_by_data(connection.view, &connection);
        e_cal_client_view_stop(connection.view, nullptr);
        g_object_unref(connection.view);
        connection.view = nullptr;
    }
    if (connection.client) {
        g_object_unref(connection.client);
        connection.client = nullptr;
    }
}

// Brings the connections in line with the registry's enabled calendar sources.
void rescan(Loop& loop)
{
    std::map<std::string, std::string> wanted;
    GList* enabled = e_source_registry_list_enabled(loop.registry, E_SOURCE_EXTENSION_CALENDAR);
    for (GList* item = enabled; item; item = item->next) {
        auto* source = E_SOURCE(item->data);
        const char* uid = e_source_get_uid(source);
        if (!uid) continue;
        const char* name = e_source_get_display_name(source);
        wanted[uid] = name ? name : uid;
        if (connectionOf(loop, uid)) continue;
        auto connection = std::make_unique<Connection>();
        connection->loop = &loop;
        connection->uid = uid;
        loop.connections[uid] = std::move(connection);
        ++loop.inFlight;
        // -1: no waiting for a remote store to come online; its offline copy answers now and the view reports
        // what the server sends later.
        e_cal_client_connect(source, E_CAL_CLIENT_SOURCE_TYPE_EVENTS, static_cast<guint32>(-1), loop.cancellable,
                             onConnected, new Pending{&loop, uid});
    }
    g_list_free_full(enabled, g_object_unref);

    std::vector<std::string> all;
    GList* sources = e_source_registry_list_sources(loop.registry, E_SOURCE_EXTENSION_CALENDAR);
    for (GList* item = sources; item; item = item->next)
        if (const char* uid = e_source_get_uid(E_SOURCE(item->data))) all.emplace_back(uid);
    g_list_free_full(sources, g_object_unref);

    for (auto it = loop.connections.begin(); it != loop.connections.end();) {
        if (wanted.count(it->first)) {
            ++it;
            continue;
        }
        dropConnection(*it->second);
        it = loop.connections.erase(it);
    }
    loop.mirror->setCalendars(wanted, std::move(all));
}

void onSourcesChanged(ESourceRegistry*, ESource*, gpointer data)
{
    rescan(*static_cast<Loop*>(data));
}

void onRegistry(GObject*, GAsyncResult* result, gpointer data)
{
    Loop& loop = *static_cast<Loop*>(data);
    --loop.inFlight;
    GError* error = nullptr;
    ESourceRegistry* registry = e_source_registry_new_finish(result, &error);
    g_clear_error(&error);
    if (!registry || g_cancellable_is_cancelled(loop.cancellable)) {
        if (registry) g_object_unref(registry);
        loop.mirror->registryFailed();
        return;
    }
    loop.registry = registry;
    for (const char* signal : {"source-added", "source-removed", "source-enabled", "source-disabled", "source-changed"})
        g_signal_connect(registry, signal, G_CALLBACK(onSourcesChanged), &loop);
    // Listed first: until the calendars are known, the source is not settled.
    rescan(loop);
    loop.mirror->registryAnswered();
}

// The wait for the registry is over, not the request: a service slow to start at login (or activated late) still
// brings its calendars when it answers, and the views follow as for any change.
gboolean onRegistryTimeout(gpointer data)
{
    Loop& loop = *static_cast<Loop*>(data);
    if (!loop.registry) loop.mirror->registryFailed();
    return G_SOURCE_REMOVE;
}

gboolean onGiveUp(gpointer data)
{
    *static_cast<bool*>(data) = true;
    return G_SOURCE_REMOVE;
}

void runLoop(std::stop_token stop, Mirror* mirror, std::chrono::milliseconds connectTimeout)
{
    Loop loop;
    loop.mirror = mirror;
    if (!sessionBusReachable()) {
        mirror->registryFailed();
        return;
    }
    loop.context = g_main_context_new();
    g_main_context_push_thread_default(loop.context);
    loop.cancellable = g_cancellable_new();

    ++loop.inFlight;
    e_source_registry_new(loop.cancellable, onRegistry, &loop);
    GSource* timer = g_timeout_source_new(static_cast<guint>(connectTimeout.count()));
    g_source_set_callback(timer, onRegistryTimeout, &loop, nullptr);
    g_source_attach(timer, loop.context);
    {
        std::stop_callback wake(stop, [context = loop.context] { g_main_context_wakeup(context); });
        while (!stop.stop_requested())
            g_main_context_iteration(loop.context, TRUE);
    }
    g_source_destroy(timer);
    g_source_unref(timer);

    // Cancelled calls still report back; wait for them (briefly) so none finds its state gone.
    g_cancellable_cancel(loop.cancellable);
    bool gaveUp = false;
    GSource* limit = g_timeout_source_new(1000);
    g_source_set_callback(limit, onGiveUp, &gaveUp, nullptr);
    g_source_attach(limit, loop.context);
    while (loop.inFlight > 0 && !gaveUp)
        g_main_context_iteration(loop.context, TRUE);
    g_source_destroy(limit);
    g_source_unref(limit);

    for (auto& [uid, connection] : loop.connections)
        dropConnection(*connection);
    loop.connections.clear();
    if (loop.registry) {
        g_signal_handlers_disconnect_by_data(loop.registry, &loop);
        g_object_unref(loop.registry);
    }
    while (g_main_context_iteration(loop.context, FALSE)) {
    }
    g_object_unref(loop.cancellable);
    g_main_context_pop_thread_default(loop.context);
    g_main_context_unref(loop.context);
}

} // namespace

EvolutionDataServerCalendarSource::EvolutionDataServerCalendarSource(std::chrono::milliseconds connectTimeout)
    : m_mirror(std::make_shared<EvolutionDataServerCalendarMirror>())
{
    icalerror_set_errors_are_fatal(0);
    m_thread = std::jthread(
        [mirror = m_mirror, connectTimeout](std::stop_token stop) { runLoop(stop, mirror.get(), connectTimeout); });
}

EvolutionDataServerCalendarSource::~EvolutionDataServerCalendarSource()
{
    setChangeHandler({});
    m_thread.request_stop();
    if (m_thread.joinable()) m_thread.join();
}

bool EvolutionDataServerCalendarSource::waitUntilSettled(std::chrono::milliseconds wait)
{
    return m_mirror->waitUntilSettled(wait);
}

bool EvolutionDataServerCalendarSource::available()
{
    return m_mirror->available();
}

std::vector<CalendarSourceInfo> EvolutionDataServerCalendarSource::calendars()
{
    return m_mirror->calendars();
}

std::vector<std::string> EvolutionDataServerCalendarSource::sourceUids()
{
    return m_mirror->sourceUids();
}

std::vector<StoredCalendarEvent>
EvolutionDataServerCalendarSource::eventsBetween(Date start, Date end,
                                                 const std::function<bool(const std::string& id)>& enabled)
{
    return m_mirror->eventsBetween(start, end, enabled, kFirstListingWait);
}

void EvolutionDataServerCalendarSource::setChangeHandler(std::function<void()> changed)
{
    m_mirror->setChangeHandler(std::move(changed));
}

} // namespace tc
