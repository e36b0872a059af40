#include "TranscriptionInfrastructure/calendar/EvolutionDataServerCalendarSource.h"

#include "TranscriptionInfrastructure/calendar/CalendarEntry.h"
#include "TranscriptionInfrastructure/calendar/LibraryOutputCapture.h"
#include "TranscriptionInfrastructure/calendar/RecurrenceExpander.h"

#include <libecal/libecal.h>
#include <libical/ical.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <system_error>

namespace tc {

namespace {

struct ComponentDeleter {
    void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};
using ComponentPtr = std::unique_ptr<icalcomponent, ComponentDeleter>;

struct GFreeDeleter {
    void operator()(gchar* text) const { g_free(text); }
};
using OwnedText = std::unique_ptr<gchar, GFreeDeleter>;

constexpr const char* kIdPrefix = "eds:";
// Separates a component's UID from its RECURRENCE-ID in the keys of a calendar's components.
constexpr char kKeySeparator = '\x1f';

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

std::string componentKey(const std::string& uid, const char* rid)
{
    return uid + kKeySeparator + (rid ? rid : "");
}

// The events of one calendar as parsed for queries; the entries' time zones point into root.
struct ParsedCalendar {
    ComponentPtr root;
    std::vector<CalendarEntry> entries;
};

// What the GLib thread learned about one calendar; read by queries. Guarded by Shared::mutex.
struct CalendarState {
    std::string name;
    // "<UID>\x1f<RECURRENCE-ID or empty>" -> the VEVENT's text.
    std::map<std::string, std::string> components;
    // TZID -> VTIMEZONE text, for the zones libical does not know by name.
    std::map<std::string, std::string> zones;
    bool listed = false;
    std::string problem;
    std::optional<Date> lastUpdate;
    std::size_t version = 0;
    std::size_t parsedVersion = static_cast<std::size_t>(-1);
    std::shared_ptr<ParsedCalendar> parsed;
};

} // namespace

struct EvolutionDataServerCalendarSource::Shared {
    std::mutex mutex;
    std::condition_variable settledChanged;
    bool registryDone = false;
    bool registryAvailable = false;
    bool firstQueryDone = false;
    std::map<std::string, CalendarState> calendars;
    std::vector<std::string> sourceUids;

    std::mutex handlerMutex;
    std::function<void()> onChange;

    // Caller holds mutex.
    bool settled() const
    {
        if (!registryDone) return false;
        return std::all_of(calendars.begin(), calendars.end(), [](const auto& c) { return c.second.listed; });
    }
    void notify()
    {
        settledChanged.notify_all();
        std::lock_guard lock(handlerMutex);
        if (onChange) onChange();
    }
};

namespace {

using Shared = EvolutionDataServerCalendarSource::Shared;

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
    Shared* shared = nullptr;
    GMainContext* context = nullptr;
    GCancellable* cancellable = nullptr;
    ESourceRegistry* registry = nullptr;
    std::map<std::string, std::unique_ptr<Connection>> connections;
    // Asynchronous calls started and not yet finished.
    int inFlight = 0;
    bool registryTimedOut = false;
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

void setProblem(Loop& loop, const std::string& uid, std::string problem)
{
    {
        std::lock_guard lock(loop.shared->mutex);
        auto& state = loop.shared->calendars[uid];
        state.problem = std::move(problem);
        state.listed = true;
    }
    loop.shared->notify();
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
    std::map<std::string, std::string> texts;
    std::map<std::string, std::string> zones;
    {
        std::lock_guard lock(connection.loop->shared->mutex);
        zones = connection.loop->shared->calendars[connection.uid].zones;
    }
    for (const GSList* item = objects; item; item = item->next) {
        auto* component = static_cast<ICalComponent*>(item->data);
        const char* uid = i_cal_component_get_uid(component);
        if (!uid) continue;
        OwnedText rid(e_cal_util_component_get_recurid_as_string(component));
        OwnedText text(i_cal_component_as_ical_string(component));
        if (!text) continue;
        texts[componentKey(uid, rid.get())] = text.get();
        collectZones(connection, component, zones);
    }
    {
        std::lock_guard lock(connection.loop->shared->mutex);
        auto& state = connection.loop->shared->calendars[connection.uid];
        for (auto& [key, text] : texts)
            state.components[key] = std::move(text);
        state.zones = std::move(zones);
        state.lastUpdate = currentDate();
        ++state.version;
    }
    connection.loop->shared->notify();
}

void onObjectsRemoved(ECalClientView*, const GSList* ids, gpointer data)
{
    auto& connection = *static_cast<Connection*>(data);
    {
        std::lock_guard lock(connection.loop->shared->mutex);
        auto& state = connection.loop->shared->calendars[connection.uid];
        for (const GSList* item = ids; item; item = item->next) {
            const auto* id = static_cast<const ECalComponentId*>(item->data);
            const char* uid = e_cal_component_id_get_uid(id);
            if (!uid) continue;
            const char* rid = e_cal_component_id_get_rid(id);
            if (rid && *rid) {
                state.components.erase(componentKey(uid, rid));
                continue;
            }
            // The whole event went, its moved instances with it.
            const std::string prefix = std::string(uid) + kKeySeparator;
            for (auto it = state.components.lower_bound(prefix);
                 it != state.components.end() && it->first.starts_with(prefix);)
                it = state.components.erase(it);
        }
        state.lastUpdate = currentDate();
        ++state.version;
    }
    connection.loop->shared->notify();
}

void onViewComplete(ECalClientView*, const GError* error, gpointer data)
{
    auto& connection = *static_cast<Connection*>(data);
    {
        std::lock_guard lock(connection.loop->shared->mutex);
        auto& state = connection.loop->shared->calendars[connection.uid];
        state.listed = true;
        state.problem = error ? problemText("予定の一覧を読めませんでした", error) : std::string();
        if (!error) state.lastUpdate = currentDate();
    }
    connection.loop->shared->notify();
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
            setProblem(loop, pending->uid, problemText("予定を見守れませんでした", error));
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
        setProblem(loop, pending->uid, problemText("予定を見守れませんでした", error));
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
            setProblem(loop, pending->uid, problemText("カレンダーを開けませんでした", error));
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
    {
        std::lock_guard lock(loop.shared->mutex);
        for (auto it = loop.shared->calendars.begin(); it != loop.shared->calendars.end();)
            it = wanted.count(it->first) ? std::next(it) : loop.shared->calendars.erase(it);
        for (const auto& [uid, name] : wanted)
            loop.shared->calendars[uid].name = name;
        // A bus without the service still yields a registry, one without sources; the service always has some.
        loop.shared->registryAvailable = !all.empty();
        loop.shared->sourceUids = std::move(all);
    }
    loop.shared->notify();
}

void onSourcesChanged(ESourceRegistry*, ESource*, gpointer data)
{
    rescan(*static_cast<Loop*>(data));
}

void finishRegistry(Loop& loop, bool available)
{
    {
        std::lock_guard lock(loop.shared->mutex);
        loop.shared->registryDone = true;
        loop.shared->registryAvailable = available;
    }
    loop.shared->notify();
}

void onRegistry(GObject*, GAsyncResult* result, gpointer data)
{
    Loop& loop = *static_cast<Loop*>(data);
    --loop.inFlight;
    GError* error = nullptr;
    ESourceRegistry* registry = e_source_registry_new_finish(result, &error);
    g_clear_error(&error);
    if (!registry || loop.registryTimedOut || g_cancellable_is_cancelled(loop.cancellable)) {
        if (registry) g_object_unref(registry);
        finishRegistry(loop, false);
        return;
    }
    loop.registry = registry;
    for (const char* signal : {"source-added", "source-removed", "source-enabled", "source-disabled", "source-changed"})
        g_signal_connect(registry, signal, G_CALLBACK(onSourcesChanged), &loop);
    // Listed first: until the calendars are known, the source is not settled.
    rescan(loop);
    {
        std::lock_guard lock(loop.shared->mutex);
        loop.shared->registryDone = true;
    }
    loop.shared->notify();
}

gboolean onRegistryTimeout(gpointer data)
{
    Loop& loop = *static_cast<Loop*>(data);
    if (!loop.registry) {
        loop.registryTimedOut = true;
        g_cancellable_cancel(loop.cancellable);
    }
    return G_SOURCE_REMOVE;
}

gboolean onGiveUp(gpointer data)
{
    *static_cast<bool*>(data) = true;
    return G_SOURCE_REMOVE;
}

void runLoop(std::stop_token stop, Shared* shared, std::chrono::milliseconds connectTimeout)
{
    Loop loop;
    loop.shared = shared;
    if (!sessionBusReachable()) {
        finishRegistry(loop, false);
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

std::shared_ptr<ParsedCalendar> parse(const CalendarState& state)
{
    std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//transcription-corvane//EN\r\n";
    for (const auto& [tzid, zone] : state.zones)
        text += zone;
    for (const auto& [key, component] : state.components)
        text += component;
    text += "END:VCALENDAR\r\n";
    auto parsed = std::make_shared<ParsedCalendar>();
    parsed->root.reset(icalparser_parse_string(text.c_str()));
    if (parsed->root) parsed->entries = CalendarEntry::readAll(parsed->root.get());
    return parsed;
}

std::size_t eventCount(const CalendarState& state)
{
    std::set<std::string> uids;
    for (const auto& [key, component] : state.components)
        uids.insert(key.substr(0, key.find(kKeySeparator)));
    return uids.size();
}

} // namespace

EvolutionDataServerCalendarSource::EvolutionDataServerCalendarSource(std::chrono::milliseconds connectTimeout)
    : m_shared(std::make_shared<Shared>())
{
    icalerror_set_errors_are_fatal(0);
    m_thread = std::jthread(
        [shared = m_shared, connectTimeout](std::stop_token stop) { runLoop(stop, shared.get(), connectTimeout); });
}

EvolutionDataServerCalendarSource::~EvolutionDataServerCalendarSource()
{
    setChangeHandler({});
    m_thread.request_stop();
    if (m_thread.joinable()) m_thread.join();
}

bool EvolutionDataServerCalendarSource::waitUntilSettled(std::chrono::milliseconds wait)
{
    std::unique_lock lock(m_shared->mutex);
    return m_shared->settledChanged.wait_for(lock, wait, [&] { return m_shared->settled(); });
}

bool EvolutionDataServerCalendarSource::available()
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->registryAvailable;
}

std::vector<CalendarSourceInfo> EvolutionDataServerCalendarSource::calendars()
{
    std::lock_guard lock(m_shared->mutex);
    std::vector<CalendarSourceInfo> list;
    for (const auto& [uid, state] : m_shared->calendars) {
        CalendarSourceInfo info;
        info.id = kIdPrefix + uid;
        info.name = state.name;
        info.kind = CalendarSourceKind::desktopAccount;
        if (state.listed) info.eventCount = eventCount(state);
        info.lastUpdate = state.lastUpdate;
        info.problem = state.problem;
        list.push_back(std::move(info));
    }
    std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    return list;
}

std::vector<std::string> EvolutionDataServerCalendarSource::sourceUids()
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->sourceUids;
}

std::vector<StoredCalendarEvent> EvolutionDataServerCalendarSource::eventsBetween(
    Date start, Date end, const std::function<bool(const std::string& id)>& enabled)
{
    const double from = unixSecondsFromDate(start);
    const double to = unixSecondsFromDate(end);
    std::vector<StoredCalendarEvent> events;
    if (!(to > from)) return events;
    std::unique_lock lock(m_shared->mutex);
    if (!m_shared->firstQueryDone) {
        m_shared->settledChanged.wait_for(lock, kFirstListingWait, [&] { return m_shared->settled(); });
        m_shared->firstQueryDone = true;
    }
    LibraryOutputCapture capture;
    for (auto& [uid, state] : m_shared->calendars) {
        if (enabled && !enabled(kIdPrefix + uid)) continue;
        if (state.parsedVersion != state.version || !state.parsed) {
            state.parsed = parse(state);
            state.parsedVersion = state.version;
        }
        RecurrenceExpander expander(std::chrono::steady_clock::now() + ICalendarEventStore::kQueryBudgetPerFile, true);
        for (const auto& entry : state.parsed->entries)
            expander.expand(entry, from, to, events);
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const StoredCalendarEvent& a, const StoredCalendarEvent& b) { return a.start < b.start; });
    return events;
}

void EvolutionDataServerCalendarSource::setChangeHandler(std::function<void()> changed)
{
    std::lock_guard lock(m_shared->handlerMutex);
    m_shared->onChange = std::move(changed);
}

} // namespace tc
