#pragma once

#include "TranscriptionDomain/ReferenceDate.h"

#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tc {

// The user's choices about calendar sources: which are switched off, the files linked where they are, and the
// subscribed calendars with what their last refresh brought. A subscription's address is a secret (it grants
// reading the calendar), so the file is the user's alone (0600) and the address is never shown whole.
// Thread-safe (one mutex inside); every change is written through at once.
class CalendarSourceSettings {
public:
    struct Subscription {
        // Stable: names the saved copy.
        std::string id;
        // https:// as fetched (webcal:// is stored as https://).
        std::string address;
        std::string name;
        std::string etag;
        std::string lastModified;
        // When the last good copy arrived (a 200 or a 304).
        std::optional<Date> fetchedAt;
        // Why the last refresh failed, in Japanese; empty when it worked.
        std::string problem;

        friend bool operator==(const Subscription&, const Subscription&) = default;
    };

    // <configDirectory>/calendar-sources.json
    static std::filesystem::path defaultFile();

    // Reads the file; a missing one is empty, an unreadable one is kept aside as <file>.broken and starts empty.
    explicit CalendarSourceSettings(std::filesystem::path file);

    const std::filesystem::path& file() const { return m_file; }
    bool isEnabled(const std::string& sourceId) const;
    void setEnabled(const std::string& sourceId, bool enabled);
    // The ids of the sources switched off.
    std::set<std::string> disabledSources() const;
    std::vector<std::filesystem::path> linkedFiles() const;
    // False when it was linked already.
    bool addLinkedFile(const std::filesystem::path& file);
    void removeLinkedFile(const std::filesystem::path& file);
    std::vector<Subscription> subscriptions() const;
    std::optional<Subscription> subscription(const std::string& id) const;
    // Adds it, or replaces the one with its id.
    void putSubscription(const Subscription& subscription);
    // Replaces the one with its id; false, and nothing changes, when it was removed meanwhile.
    bool replaceSubscription(const Subscription& subscription);
    void removeSubscription(const std::string& id);
    // Why the last write failed, in Japanese; empty when it worked.
    std::string writeProblem() const;

private:
    void load();
    // Caller holds m_mutex.
    void save();

    const std::filesystem::path m_file;
    mutable std::mutex m_mutex;
    std::set<std::string> m_disabled;
    std::vector<std::filesystem::path> m_linkedFiles;
    std::vector<Subscription> m_subscriptions;
    std::string m_writeProblem;
};

} // namespace tc
