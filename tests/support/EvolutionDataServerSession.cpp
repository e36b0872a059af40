#include "support/EvolutionDataServerSession.h"

#include "support/ShellCommand.h"
#include "support/TemporaryDirectory.h"
#include "support/TestPaths.h"

#include <libecal/libecal.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tc::test {

namespace {

// Waits (at most the timeout) for a process that is not our child to end: a pidfd becomes readable then.
bool waitForExit(pid_t pid, int timeoutMilliseconds)
{
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) return true;
    pollfd entry{fd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, timeoutMilliseconds);
    ::close(fd);
    return ready > 0;
}

std::string busConfig(const std::filesystem::path& home, bool withCalendarService)
{
    std::string config = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=)" + home.string() + R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
)";
    if (withCalendarService) config += "  <servicedir>/usr/share/dbus-1/services</servicedir>\n";
    return config + "</busconfig>\n";
}

} // namespace

EvolutionDataServerSession::EvolutionDataServerSession(bool withCalendarService)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tc-eds-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        m_error = "cannot make a home directory";
        return;
    }
    m_home = pattern;
    const std::map<std::string, std::string> environment{
        {"HOME", m_home.string()},
        {"XDG_DATA_HOME", (m_home / "data").string()},
        {"XDG_CONFIG_HOME", (m_home / "config").string()},
        {"XDG_CACHE_HOME", (m_home / "cache").string()},
        {"XDG_RUNTIME_DIR", (m_home / "runtime").string()},
        // The services' settings stay in memory, never in the user's dconf.
        {"GSETTINGS_BACKEND", "memory"},
    };
    for (const auto& [name, value] : environment) {
        const char* old = std::getenv(name.c_str());
        m_savedEnvironment.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        setenv(name.c_str(), value.c_str(), 1);
        if (name.starts_with("XDG_")) std::filesystem::create_directories(value);
    }
    std::filesystem::permissions(m_home / "runtime", std::filesystem::perms::owner_all);
    const char* oldAddress = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    m_savedEnvironment.emplace_back("DBUS_SESSION_BUS_ADDRESS",
                                    oldAddress ? std::optional<std::string>(oldAddress) : std::nullopt);

    const auto config = m_home / "bus.conf";
    std::ofstream(config) << busConfig(m_home, withCalendarService);
    std::string output;
    // The daemon passes this process's environment (the temporary HOME above) to the services it starts.
    const int status = runShellCommand("dbus-daemon --config-file=" + shellQuoted(config.string()) +
                                           " --fork --print-address=1 --print-pid=1 </dev/null 2>/dev/null",
                                       &output);
    std::istringstream lines(output);
    std::string address;
    pid_t pid = 0;
    if (status != 0 || !std::getline(lines, address) || !(lines >> pid) || pid <= 0) {
        m_error = "dbus-daemon did not start (status " + std::to_string(status) + ")";
        return;
    }
    m_daemon = pid;
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    // GLib's shared session connection would end this process when the bus goes away at the end.
    if (GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
        g_dbus_connection_set_exit_on_close(bus, FALSE);
        g_object_unref(bus);
    }
    m_defaultLoop = std::jthread([](std::stop_token stop) {
        // Qt's GLib event dispatcher makes the default context its main thread's own for good: then that thread
        // runs it, and a second thread iterating it would wait for ownership in a way no wakeup ends.
        if (!g_main_context_acquire(nullptr)) return;
        {
            std::stop_callback wake(stop, [] { g_main_context_wakeup(nullptr); });
            while (!stop.stop_requested())
                g_main_context_iteration(nullptr, TRUE);
        }
        g_main_context_release(nullptr);
    });
}

EvolutionDataServerSession::~EvolutionDataServerSession()
{
    m_defaultLoop = {};
    for (auto& [uid, client] : m_clients)
        g_object_unref(client);
    if (m_registry) g_object_unref(m_registry);
    stopBusPrograms();
    for (const auto& [name, value] : m_savedEnvironment)
        value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    std::error_code ignored;
    if (!m_home.empty()) std::filesystem::remove_all(m_home, ignored);
}

void EvolutionDataServerSession::stopBusPrograms()
{
    if (m_daemon <= 0) return;
    // Every program the bus started (the registry, the calendar factory and its backend processes) by its
    // connection's process id; the bus itself goes last.
    std::vector<pid_t> programs;
    if (GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
        const pid_t self = ::getpid();
        if (GVariant* names = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                          "org.freedesktop.DBus", "ListNames", nullptr,
                                                          G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE, 2000,
                                                          nullptr, nullptr)) {
            GVariantIter* iter = nullptr;
            const gchar* name = nullptr;
            g_variant_get(names, "(as)", &iter);
            while (g_variant_iter_loop(iter, "&s", &name)) {
                if (name[0] != ':') continue;
                GVariant* reply = g_dbus_connection_call_sync(
                    bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                    "GetConnectionUnixProcessID", g_variant_new("(s)", name), G_VARIANT_TYPE("(u)"),
                    G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
                if (!reply) continue;
                guint32 pid = 0;
                g_variant_get(reply, "(u)", &pid);
                g_variant_unref(reply);
                if (pid > 0 && static_cast<pid_t>(pid) != self && static_cast<pid_t>(pid) != m_daemon)
                    programs.push_back(static_cast<pid_t>(pid));
            }
            g_variant_iter_free(iter);
            g_variant_unref(names);
        }
        g_object_unref(bus);
    }
    for (const pid_t pid : programs)
        ::kill(pid, SIGTERM);
    for (const pid_t pid : programs)
        if (!waitForExit(pid, 5000)) ::kill(pid, SIGKILL);
    ::kill(m_daemon, SIGTERM);
    if (!waitForExit(m_daemon, 5000)) ::kill(m_daemon, SIGKILL);
    m_daemon = 0;
}

std::string EvolutionDataServerSession::createLocalCalendar(const std::string& name)
{
    GError* error = nullptr;
    if (!m_registry) m_registry = e_source_registry_new_sync(nullptr, &error);
    if (!m_registry) {
        m_lastError = error ? error->message : "no registry";
        g_clear_error(&error);
        return {};
    }
    auto* registry = static_cast<ESourceRegistry*>(m_registry);
    ESource* source = e_source_new(nullptr, nullptr, &error);
    e_source_set_display_name(source, name.c_str());
    e_source_set_parent(source, "local-stub");
    auto* calendar = static_cast<ESourceBackend*>(e_source_get_extension(source, E_SOURCE_EXTENSION_CALENDAR));
    e_source_backend_set_backend_name(calendar, "local");
    std::string uid = e_source_get_uid(source);
    if (!e_source_registry_commit_source_sync(registry, source, nullptr, &error)) {
        m_lastError = error ? error->message : "commit failed";
        g_clear_error(&error);
        g_object_unref(source);
        return {};
    }
    g_object_unref(source);
    ESource* committed = e_source_registry_ref_source(registry, uid.c_str());
    if (!committed) {
        m_lastError = "the committed source is not in the registry";
        return {};
    }
    EClient* client = e_cal_client_connect_sync(committed, E_CAL_CLIENT_SOURCE_TYPE_EVENTS, static_cast<guint32>(-1),
                                                nullptr, &error);
    g_object_unref(committed);
    if (!client) {
        m_lastError = error ? error->message : "connect failed";
        g_clear_error(&error);
        return {};
    }
    m_clients[uid] = client;
    return uid;
}

void* EvolutionDataServerSession::client(const std::string& calendarUid)
{
    const auto found = m_clients.find(calendarUid);
    return found == m_clients.end() ? nullptr : found->second;
}

std::string EvolutionDataServerSession::vevent(const std::string& fields)
{
    return "BEGIN:VEVENT\r\n" + fields + "END:VEVENT\r\n";
}

std::string EvolutionDataServerSession::createWorkCalendar()
{
    const auto uid = createLocalCalendar("仕事");
    if (uid.empty()) return {};
    // The file's events in its order, the series before its moved instance.
    const std::string text = readText(testDataDir() / "calendar" / "desktop-work.ics");
    const std::string_view last = "END:VEVENT";
    for (auto at = text.find("BEGIN:VEVENT"); at != std::string::npos; at = text.find("BEGIN:VEVENT", at + 1))
        if (!putEvent(uid, text.substr(at, text.find(last, at) + last.size() - at) + "\r\n")) return {};
    return uid;
}

bool EvolutionDataServerSession::putEvent(const std::string& calendarUid, const std::string& vevent)
{
    auto* calendar = static_cast<ECalClient*>(client(calendarUid));
    ICalComponent* component = i_cal_component_new_from_string(vevent.c_str());
    if (!calendar || !component) {
        m_lastError = "no such calendar, or the event does not parse";
        if (component) g_object_unref(component);
        return false;
    }
    GError* error = nullptr;
    bool ok = false;
    ICalComponent* existing = nullptr;
    const bool instance = i_cal_component_get_first_property(component, I_CAL_RECURRENCEID_PROPERTY) != nullptr;
    if (instance) {
        ok = e_cal_client_modify_object_sync(calendar, component, E_CAL_OBJ_MOD_THIS, E_CAL_OPERATION_FLAG_NONE,
                                             nullptr, &error);
    } else if (e_cal_client_get_object_sync(calendar, i_cal_component_get_uid(component), nullptr, &existing, nullptr,
                                            nullptr)) {
        g_object_unref(existing);
        ok = e_cal_client_modify_object_sync(calendar, component, E_CAL_OBJ_MOD_ALL, E_CAL_OPERATION_FLAG_NONE,
                                             nullptr, &error);
    } else {
        gchar* uid = nullptr;
        ok = e_cal_client_create_object_sync(calendar, component, E_CAL_OPERATION_FLAG_NONE, &uid, nullptr, &error);
        g_free(uid);
    }
    if (!ok) m_lastError = error ? error->message : "the calendar refused the event";
    g_clear_error(&error);
    g_object_unref(component);
    return ok;
}

bool EvolutionDataServerSession::removeEvent(const std::string& calendarUid, const std::string& eventUid,
                                             const std::string& rid)
{
    auto* calendar = static_cast<ECalClient*>(client(calendarUid));
    if (!calendar) return false;
    GError* error = nullptr;
    const bool ok = e_cal_client_remove_object_sync(calendar, eventUid.c_str(), rid.empty() ? nullptr : rid.c_str(),
                                                    rid.empty() ? E_CAL_OBJ_MOD_ALL : E_CAL_OBJ_MOD_THIS,
                                                    E_CAL_OPERATION_FLAG_NONE, nullptr, &error);
    if (!ok) m_lastError = error ? error->message : "the calendar refused the removal";
    g_clear_error(&error);
    return ok;
}

bool EvolutionDataServerSession::setCalendarEnabled(const std::string& calendarUid, bool enabled)
{
    auto* registry = static_cast<ESourceRegistry*>(m_registry);
    if (!registry) return false;
    ESource* source = e_source_registry_ref_source(registry, calendarUid.c_str());
    if (!source) return false;
    e_source_set_enabled(source, enabled);
    GError* error = nullptr;
    const bool ok = e_source_write_sync(source, nullptr, &error);
    if (!ok) m_lastError = error ? error->message : "the registry refused the change";
    g_clear_error(&error);
    g_object_unref(source);
    return ok;
}

} // namespace tc::test
