#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace tc::test {

// A private D-Bus session bus for one test process, in a temporary HOME with its own XDG folders, from which the
// real Evolution Data Server (evolution-source-registry, evolution-calendar-factory) is started on demand, as a
// desktop session starts it. Construction points this process at it (DBUS_SESSION_BUS_ADDRESS, HOME, XDG_*);
// destruction stops the bus and every program on it and restores the environment. Calendars and events are made
// through the client library (libecal), as Evolution makes them. GLib keeps one session connection per process,
// so make at most one per process; a Qt test makes its QApplication first. Not thread-safe.
class EvolutionDataServerSession {
public:
    // withCalendarService false: a bus on which no calendar service can start (the desktop without one).
    explicit EvolutionDataServerSession(bool withCalendarService = true);
    ~EvolutionDataServerSession();
    EvolutionDataServerSession(const EvolutionDataServerSession&) = delete;
    EvolutionDataServerSession& operator=(const EvolutionDataServerSession&) = delete;

    bool isRunning() const { return m_daemon > 0; }
    const std::string& startError() const { return m_error; }
    const std::filesystem::path& home() const { return m_home; }

    // Makes a local calendar through the registry; its source UID, empty on failure (lastError() says why).
    std::string createLocalCalendar(const std::string& name);
    // Adds the VEVENT, or replaces the one with its UID (an instance, with RECURRENCE-ID, replaces that instance).
    bool putEvent(const std::string& calendarUid, const std::string& vevent);
    // The local calendar "仕事" of tests/data/calendar/desktop-work.ics: a one-off event, a weekly series with an
    // exception and a moved instance, an all-day event and an evening in New York (the next morning in Tokyo); its
    // UID, empty on failure.
    std::string createWorkCalendar();
    // The fields wrapped as one VEVENT.
    static std::string vevent(const std::string& fields);
    // Removes the event (all its instances), or with rid (as "20260115T100000") that one instance only.
    bool removeEvent(const std::string& calendarUid, const std::string& eventUid, const std::string& rid = {});
    // Switches a calendar source off or on in the registry.
    bool setCalendarEnabled(const std::string& calendarUid, bool enabled);
    const std::string& lastError() const { return m_lastError; }

private:
    void stopBusPrograms();
    void* client(const std::string& calendarUid);

    std::filesystem::path m_home;
    pid_t m_daemon = 0;
    std::string m_error;
    std::string m_lastError;
    void* m_registry = nullptr;
    std::map<std::string, void*> m_clients;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_savedEnvironment;
    // Runs GLib's default main context, where the session's own registry delivers its sources' changes (the
    // registry under test shares those source objects, as another program's registry never would), unless a Qt
    // event loop owns that context already and runs it on the main thread.
    std::jthread m_defaultLoop;
};

} // namespace tc::test
