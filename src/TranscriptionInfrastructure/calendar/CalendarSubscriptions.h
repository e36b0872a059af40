#pragma once

#include "TranscriptionInfrastructure/calendar/CalendarSourceSettings.h"
#include "TranscriptionInfrastructure/calendar/CalendarSubscriptionFetcher.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace tc {

// Keeps the subscribed calendars fresh: a background thread fetches each one at start, when asked and every
// refreshInterval, with conditional requests, and saves a good copy as <folder>/<id>.ics (0600). A failed
// refresh keeps the last copy and records why, with the time of the last good one. Thread-safe.
class CalendarSubscriptions {
public:
    static constexpr std::chrono::minutes kRefreshInterval{30};

    struct Added {
        // The new subscription's id; empty when refused.
        std::string id;
        // Why it was refused, in Japanese; empty when added.
        std::string problem;
        // The refresh round that fetches it first (see waitForRounds).
        std::size_t round = 0;
    };

    CalendarSubscriptions(std::shared_ptr<CalendarSourceSettings> settings, std::filesystem::path folder,
                          CalendarSubscriptionFetcher fetcher,
                          std::chrono::milliseconds refreshInterval = kRefreshInterval);
    // Stops a download under way and joins.
    ~CalendarSubscriptions();
    CalendarSubscriptions(const CalendarSubscriptions&) = delete;
    CalendarSubscriptions& operator=(const CalendarSubscriptions&) = delete;

    // Adds the address (webcal:// becomes https://) and fetches it soon; refused when it is not https or webcal,
    // or already subscribed. name may be empty: the feed's own name (X-WR-CALNAME) is used then.
    Added add(const std::string& address, const std::string& name);
    // Forgets the subscription and deletes its copy.
    void remove(const std::string& id);
    // Fetches every subscription again now (in the background); the number of the round that fetches every
    // subscription known at this call (a round under way may have read the list before it).
    std::size_t refreshNow();
    // The saved copy of a subscription (it may not exist yet).
    std::filesystem::path copyOf(const std::string& id) const;
    // Completed refresh rounds since start; a round fetches every subscription once.
    std::size_t rounds() const;
    // Waits until `count` rounds completed; false when `wait` passed first.
    bool waitForRounds(std::size_t count, std::chrono::milliseconds wait) const;
    // Called on the refresh thread after a round that changed a copy or a subscription's state.
    void setChangeHandler(std::function<void()> changed);

private:
    void run(std::stop_token stop);
    void refreshOne(const CalendarSourceSettings::Subscription& subscription, std::stop_token stop);

    const std::shared_ptr<CalendarSourceSettings> m_settings;
    const std::filesystem::path m_folder;
    const CalendarSubscriptionFetcher m_fetcher;
    const std::chrono::milliseconds m_interval;
    mutable std::mutex m_mutex;
    mutable std::condition_variable_any m_wake;
    bool m_refreshRequested = true;
    // A round has read the list of subscriptions and is fetching them.
    bool m_roundUnderWay = false;
    std::size_t m_rounds = 0;
    std::mutex m_handlerMutex;
    std::function<void()> m_changed;
    // Last: it starts running once everything above exists.
    std::jthread m_thread;
};

} // namespace tc
