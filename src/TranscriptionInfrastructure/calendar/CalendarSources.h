#pragma once

#include "TranscriptionDomain/Expected.h"
#include "TranscriptionInfrastructure/calendar/CalendarSourceInfo.h"
#include "TranscriptionInfrastructure/calendar/ICalendarEventStore.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tc {

class CalendarSourceSettings;
class CalendarSubscriptions;
class EvolutionDataServerCalendarSource;

// Every calendar the app reads, behind one face: the desktop's accounts (Evolution Data Server), subscribed
// calendars, linked files, the calendars folder and Evolution's local files (those only while the desktop
// service does not read them itself). It lists them for the settings, keeps the user's on/off switches and
// answers day queries from the enabled ones. Thread-safe: each part serialises itself.
class CalendarSources {
public:
    struct Parts {
        std::shared_ptr<ICalendarEventStore> files;
        // Null: nothing is remembered (switches, links and subscriptions are refused).
        std::shared_ptr<CalendarSourceSettings> settings;
        // Null: no desktop accounts.
        std::unique_ptr<EvolutionDataServerCalendarSource> desktop;
        // Null: no subscriptions.
        std::unique_ptr<CalendarSubscriptions> subscriptions;
        // Where imported files are copied (the calendars folder the files store reads).
        std::filesystem::path importFolder;
    };

    // This user's: AppPaths' folders, the settings file, the desktop service and subscriptions.
    static std::shared_ptr<CalendarSources> makeDefault();

    explicit CalendarSources(Parts parts);
    ~CalendarSources();
    CalendarSources(const CalendarSources&) = delete;
    CalendarSources& operator=(const CalendarSources&) = delete;

    // Occurrences intersecting [start, end) from the enabled sources, sorted stably by start. Never throws.
    std::vector<StoredCalendarEvent> eventsBetween(Date start, Date end);
    // Every source: desktop calendars, subscriptions, linked files, the calendars folder's files, Evolution's files.
    std::vector<CalendarSourceInfo> sources();
    // "仕事（デスクトップのアカウント）" for each enabled source.
    std::vector<std::string> enabledSourceNames();
    // Switches a source on or off (kept across runs).
    void setEnabled(const std::string& sourceId, bool enabled);
    // Copies a .ics file into the calendars folder; done, or why not (Japanese). The original is
    // never changed, a file of the same name there is never replaced, and the same bytes are not copied twice.
    Expected<void, std::string> importFile(const std::filesystem::path& file);
    // Reads a .ics file where it is from now on; done, or why not (Japanese).
    Expected<void, std::string> linkFile(const std::filesystem::path& file);
    // Subscribes to a calendar's iCalendar address; done, or why not (Japanese).
    Expected<void, std::string> addSubscription(const std::string& address, const std::string& name = {});
    // Forgets a subscription or a linked file; other sources can only be switched off.
    void remove(const std::string& sourceId);
    // Fetches the subscriptions again now.
    void refreshSubscriptions();
    // Called on any thread when a source or its events changed; replaces the previous callback.
    void setChangeHandler(std::function<void()> changed);
    // A further listener beside the change handler (the settings' list); its token removes it.
    int addListener(std::function<void()> changed);
    // After it returns, the listener is not called any more.
    void removeListener(int token);

    CalendarSubscriptions* subscriptions() const { return m_parts.subscriptions.get(); }
    EvolutionDataServerCalendarSource* desktop() const { return m_parts.desktop.get(); }

    // "file:<path>" and "subscription:<id>".
    static std::string fileSourceId(const std::filesystem::path& file);
    static std::string subscriptionSourceId(const std::string& subscriptionId);

private:
    // Passes the settings' links and switches, and the desktop's own calendars, to the files store.
    void syncFileStore();
    void notify();
    Expected<void, std::string> checkCalendarFile(const std::filesystem::path& file) const;

    Parts m_parts;
    std::mutex m_handlerMutex;
    // Token 0 is the change handler's.
    std::map<int, std::function<void()>> m_listeners;
    int m_nextToken = 1;
};

} // namespace tc
