#include "TranscriptionInfrastructure/calendar/CalendarSubscriptions.h"

#include "TranscriptionDomain/Uuid.h"
#include "TranscriptionInfrastructure/files/AtomicFileWriter.h"

#include <system_error>

namespace tc {

namespace {

// The calendar's own name in the feed, when it gives one.
std::string calendarName(const std::string& body)
{
    const auto at = body.find("X-WR-CALNAME:");
    if (at == std::string::npos) return {};
    const auto start = at + 13;
    const auto end = body.find_first_of("\r\n", start);
    return body.substr(start, end == std::string::npos ? std::string::npos : end - start).substr(0, 200);
}

} // namespace

CalendarSubscriptions::CalendarSubscriptions(std::shared_ptr<CalendarSourceSettings> settings,
                                             std::filesystem::path folder, CalendarSubscriptionFetcher fetcher,
                                             std::chrono::milliseconds refreshInterval)
    : m_settings(std::move(settings)), m_folder(std::move(folder)), m_fetcher(std::move(fetcher)),
      m_interval(refreshInterval), m_thread([this](std::stop_token stop) { run(stop); })
{}

CalendarSubscriptions::~CalendarSubscriptions()
{
    setChangeHandler({});
    m_thread.request_stop();
    m_wake.notify_all();
}

CalendarSubscriptions::Added CalendarSubscriptions::add(const std::string& address, const std::string& name)
{
    const auto normalised = m_fetcher.normalised(address);
    if (!normalised)
        return {{}, "このアドレスは購読できません。カレンダーのサービスが示す https:// または webcal:// で始まる"
                    "iCalendar（.ics）のアドレスを貼り付けてください。"};
    for (const auto& existing : m_settings->subscriptions())
        if (existing.address == *normalised) return {{}, "このカレンダーはもう購読しています。"};
    CalendarSourceSettings::Subscription subscription;
    subscription.id = Uuid::random().toString();
    subscription.address = *normalised;
    subscription.name = name;
    m_settings->putSubscription(subscription);
    return {subscription.id, {}, refreshNow()};
}

void CalendarSubscriptions::remove(const std::string& id)
{
    m_settings->removeSubscription(id);
    std::error_code error;
    std::filesystem::remove(copyOf(id), error);
}

std::size_t CalendarSubscriptions::refreshNow()
{
    std::size_t round = 0;
    {
        std::lock_guard lock(m_mutex);
        m_refreshRequested = true;
        round = m_rounds + (m_roundUnderWay ? 2 : 1);
    }
    m_wake.notify_all();
    return round;
}

std::filesystem::path CalendarSubscriptions::copyOf(const std::string& id) const
{
    return m_folder / (id + ".ics");
}

std::size_t CalendarSubscriptions::rounds() const
{
    std::lock_guard lock(m_mutex);
    return m_rounds;
}

bool CalendarSubscriptions::waitForRounds(std::size_t count, std::chrono::milliseconds wait) const
{
    std::unique_lock lock(m_mutex);
    return m_wake.wait_for(lock, wait, [&] { return m_rounds >= count; });
}

void CalendarSubscriptions::setChangeHandler(std::function<void()> changed)
{
    std::lock_guard lock(m_handlerMutex);
    m_changed = std::move(changed);
}

void CalendarSubscriptions::run(std::stop_token stop)
{
    while (!stop.stop_requested()) {
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait_for(lock, stop, m_interval, [&] { return m_refreshRequested; });
            if (stop.stop_requested()) return;
            m_refreshRequested = false;
            m_roundUnderWay = true;
        }
        for (const auto& subscription : m_settings->subscriptions()) {
            if (stop.stop_requested()) return;
            refreshOne(subscription, stop);
        }
        {
            std::lock_guard lock(m_mutex);
            ++m_rounds;
            m_roundUnderWay = false;
        }
        m_wake.notify_all();
        std::lock_guard lock(m_handlerMutex);
        if (m_changed) m_changed();
    }
}

void CalendarSubscriptions::refreshOne(const CalendarSourceSettings::Subscription& subscription, std::stop_token stop)
{
    std::error_code error;
    const bool haveCopy = std::filesystem::exists(copyOf(subscription.id), error);
    // Without a copy, a 304 would leave nothing to show: ask for the whole feed.
    const auto result = m_fetcher.fetch(
        {subscription.address, haveCopy ? subscription.etag : "", haveCopy ? subscription.lastModified : ""}, stop);
    if (stop.stop_requested()) return;
    // Removed while it was being fetched: nothing to keep.
    auto updated = m_settings->subscription(subscription.id);
    if (!updated) return;
    switch (result.outcome) {
    case CalendarSubscriptionFetcher::Outcome::updated: {
        std::filesystem::create_directories(m_folder, error);
        if (const auto written = AtomicFileWriter::write(copyOf(subscription.id), result.body, 0600); !written) {
            updated->problem = "購読したカレンダーを保存できませんでした（" +
                               AtomicFileWriter::describe(written.error()) + "）。ディスクの空きを確かめてください。";
            break;
        }
        updated->etag = result.etag;
        updated->lastModified = result.lastModified;
        updated->fetchedAt = currentDate();
        updated->problem.clear();
        if (updated->name.empty()) updated->name = calendarName(result.body);
        break;
    }
    case CalendarSubscriptionFetcher::Outcome::notModified:
        updated->fetchedAt = currentDate();
        updated->problem.clear();
        break;
    case CalendarSubscriptionFetcher::Outcome::failed: updated->problem = result.problem; break;
    }
    // Removed while it was being saved: its copy goes as well.
    if (!m_settings->replaceSubscription(*updated)) std::filesystem::remove(copyOf(subscription.id), error);
}

} // namespace tc
