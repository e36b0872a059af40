#include "TranscriptionInfrastructure/calendar/CalendarSources.h"

#include "TranscriptionInfrastructure/calendar/CalendarSourceSettings.h"
#include "TranscriptionInfrastructure/calendar/CalendarSubscriptionFetcher.h"
#include "TranscriptionInfrastructure/calendar/CalendarSubscriptions.h"
#include "TranscriptionInfrastructure/calendar/EvolutionDataServerCalendarSource.h"
#include "TranscriptionInfrastructure/files/AtomicFileWriter.h"
#include "TranscriptionInfrastructure/files/FileReader.h"

#include <algorithm>
#include <map>
#include <set>
#include <system_error>

namespace tc {

namespace {

Unexpected<std::string> refused(std::string reason)
{
    return Unexpected{std::move(reason)};
}

constexpr const char* kFilePrefix = "file:";
constexpr const char* kSubscriptionPrefix = "subscription:";

std::string quoted(const std::filesystem::path& file)
{
    return "「" + file.filename().string() + "」";
}

// Where a copy of the file goes in the calendars folder: the first of "会議.ics", "会議 (2).ics", ... that no file
// has yet; `copied` says when one of them already holds these very bytes (the same file imported before).
struct ImportTarget {
    std::filesystem::path file;
    bool copied = false;
};

ImportTarget importTarget(const std::filesystem::path& folder, const std::filesystem::path& original,
                          const std::string& text)
{
    const std::string stem = original.stem().string().empty() ? "calendar" : original.stem().string();
    std::error_code error;
    for (int n = 1;; ++n) {
        auto candidate = folder / (n == 1 ? stem + ".ics" : stem + " (" + std::to_string(n) + ").ics");
        if (!std::filesystem::exists(candidate, error)) return {candidate, false};
        if (std::filesystem::file_size(candidate, error) == text.size() && FileReader::readAll(candidate) == text)
            return {candidate, true};
    }
}

} // namespace

std::shared_ptr<CalendarSources> CalendarSources::makeDefault()
{
    const auto locations = ICalendarEventStore::defaultLocations();
    Parts parts;
    parts.files = std::make_shared<ICalendarEventStore>(locations);
    parts.settings = std::make_shared<CalendarSourceSettings>(CalendarSourceSettings::defaultFile());
    parts.desktop = std::make_unique<EvolutionDataServerCalendarSource>();
    parts.subscriptions = std::make_unique<CalendarSubscriptions>(parts.settings, *locations.subscriptionsFolder,
                                                                  CalendarSubscriptionFetcher{});
    parts.importFolder = locations.calendarsFolder;
    return std::make_shared<CalendarSources>(std::move(parts));
}

CalendarSources::CalendarSources(Parts parts) : m_parts(std::move(parts))
{
    if (m_parts.desktop) m_parts.desktop->setChangeHandler([this] { notify(); });
    if (m_parts.subscriptions) m_parts.subscriptions->setChangeHandler([this] { notify(); });
}

CalendarSources::~CalendarSources()
{
    if (m_parts.desktop) m_parts.desktop->setChangeHandler({});
    if (m_parts.subscriptions) m_parts.subscriptions->setChangeHandler({});
}

std::string CalendarSources::fileSourceId(const std::filesystem::path& file)
{
    return kFilePrefix + file.string();
}

std::string CalendarSources::subscriptionSourceId(const std::string& subscriptionId)
{
    return kSubscriptionPrefix + subscriptionId;
}

void CalendarSources::syncFileStore()
{
    std::set<std::filesystem::path> disabled;
    if (m_parts.settings) {
        m_parts.files->setLinkedFiles(m_parts.settings->linkedFiles());
        for (const auto& id : m_parts.settings->disabledSources()) {
            if (id.starts_with(kFilePrefix))
                disabled.insert(id.substr(std::string_view(kFilePrefix).size()));
            else if (id.starts_with(kSubscriptionPrefix) && m_parts.subscriptions)
                disabled.insert(
                    m_parts.subscriptions->copyOf(id.substr(std::string_view(kSubscriptionPrefix).size())));
        }
    }
    m_parts.files->setDisabledFiles(std::move(disabled));
    if (m_parts.desktop && m_parts.desktop->available()) {
        const auto uids = m_parts.desktop->sourceUids();
        m_parts.files->setSkippedEvolutionCalendars({uids.begin(), uids.end()});
    } else {
        m_parts.files->setSkippedEvolutionCalendars({});
    }
}

std::vector<StoredCalendarEvent> CalendarSources::eventsBetween(Date start, Date end)
{
    std::vector<StoredCalendarEvent> events;
    // The desktop first: its first answer settles which of Evolution's files it reads itself.
    if (m_parts.desktop)
        events = m_parts.desktop->eventsBetween(start, end, [this](const std::string& id) {
            return !m_parts.settings || m_parts.settings->isEnabled(id);
        });
    syncFileStore();
    auto files = m_parts.files->eventsBetween(start, end);
    files.insert(files.end(), std::make_move_iterator(events.begin()), std::make_move_iterator(events.end()));
    std::stable_sort(files.begin(), files.end(),
                     [](const StoredCalendarEvent& a, const StoredCalendarEvent& b) { return a.start < b.start; });
    return files;
}

std::vector<CalendarSourceInfo> CalendarSources::sources()
{
    syncFileStore();
    const auto enabled = [this](const std::string& id) { return !m_parts.settings || m_parts.settings->isEnabled(id); };
    std::vector<CalendarSourceInfo> list;
    if (m_parts.desktop) {
        for (auto info : m_parts.desktop->calendars()) {
            info.enabled = enabled(info.id);
            list.push_back(std::move(info));
        }
    }
    const auto summaries = m_parts.files->fileSummaries();
    std::map<std::filesystem::path, ICalendarEventStore::FileSummary> byFile;
    for (const auto& summary : summaries)
        byFile[summary.file] = summary;
    if (m_parts.settings && m_parts.subscriptions) {
        for (const auto& subscription : m_parts.settings->subscriptions()) {
            CalendarSourceInfo info;
            info.id = subscriptionSourceId(subscription.id);
            info.name = subscription.name.empty() ? CalendarSubscriptionFetcher::masked(subscription.address)
                                                  : subscription.name;
            info.kind = CalendarSourceKind::subscription;
            if (const auto found = byFile.find(m_parts.subscriptions->copyOf(subscription.id)); found != byFile.end())
                info.eventCount = found->second.eventCount;
            info.lastUpdate = subscription.fetchedAt;
            info.enabled = enabled(info.id);
            info.problem = subscription.problem;
            list.push_back(std::move(info));
        }
    }
    std::set<std::filesystem::path> present;
    for (const auto& summary : summaries) {
        present.insert(summary.file);
        if (summary.kind == CalendarSourceKind::subscription) continue;
        CalendarSourceInfo info;
        info.id = fileSourceId(summary.file);
        info.name = summary.kind == CalendarSourceKind::evolutionFile ? summary.file.parent_path().filename().string()
                                                                      : summary.file.stem().string();
        info.kind = summary.kind;
        info.eventCount = summary.eventCount;
        info.lastUpdate = summary.modified;
        info.enabled = enabled(info.id);
        list.push_back(std::move(info));
    }
    if (m_parts.settings) {
        for (const auto& file : m_parts.settings->linkedFiles()) {
            if (present.count(file)) continue;
            CalendarSourceInfo info;
            info.id = fileSourceId(file);
            info.name = file.stem().string();
            info.kind = CalendarSourceKind::linkedFile;
            info.enabled = enabled(info.id);
            info.problem = file.string() + " が見つかりません。ファイルを移したときは、削除してから追加し直してください。";
            list.push_back(std::move(info));
        }
    }
    return list;
}

std::vector<std::string> CalendarSources::enabledSourceNames()
{
    std::vector<std::string> names;
    for (const auto& source : sources())
        if (source.enabled) names.push_back(source.name + "（" + calendarSourceKindName(source.kind) + "）");
    return names;
}

void CalendarSources::setEnabled(const std::string& sourceId, bool enabled)
{
    if (!m_parts.settings) return;
    m_parts.settings->setEnabled(sourceId, enabled);
    notify();
}

Expected<void, std::string> CalendarSources::checkCalendarFile(const std::filesystem::path& file) const
{
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (error || !std::filesystem::is_regular_file(file, error))
        return refused(quoted(file) + "を読めませんでした。ファイルがあり、読む権限があるか確かめてください。");
    if (size > ICalendarEventStore::kMaxFileBytes)
        return refused(quoted(file) + "は大きすぎます（" +
                       std::to_string(ICalendarEventStore::kMaxFileBytes / (1024 * 1024)) +
                       " MB まで）。カレンダーアプリで期間を区切って書き出してください。");
    const auto text = FileReader::readAll(file);
    if (!text) return refused(quoted(file) + "を読めませんでした。読む権限があるか確かめてください。");
    if (!ICalendarEventStore::countEvents(*text))
        return refused(quoted(file) + "は iCalendar（.ics）として読めませんでした。カレンダーアプリから .ics 形式で"
                                      "書き出し直してください。ファイルには何も変更していません。");
    return {};
}

Expected<void, std::string> CalendarSources::importFile(const std::filesystem::path& file)
{
    if (auto checked = checkCalendarFile(file); !checked) return checked;
    const auto text = FileReader::readAll(file);
    if (!text) return refused(quoted(file) + "を読めませんでした。読む権限があるか確かめてください。");
    std::error_code error;
    std::filesystem::create_directories(m_parts.importFolder, error);
    const auto target = importTarget(m_parts.importFolder, file, *text);
    // Its events would show twice.
    if (target.copied)
        return refused(
            quoted(file) + "はすでに「" + target.file.filename().string() +
            "」として取り込んであるため、もう一度は取り込みませんでした。書き換えを予定に反映させたいときは、"
            "「元の場所のまま読む（リンク）」で追加してください。");
    if (const auto written = AtomicFileWriter::write(target.file, *text, 0600); !written)
        return refused(quoted(file) + "を取り込めませんでした（" + AtomicFileWriter::describe(written.error()) +
                       "）。" + m_parts.importFolder.string() + " に書き込めるか確かめてください。");
    notify();
    return {};
}

Expected<void, std::string> CalendarSources::linkFile(const std::filesystem::path& file)
{
    if (!m_parts.settings) return refused("ファイルをリンクできません。");
    if (auto checked = checkCalendarFile(file); !checked) return checked;
    std::error_code error;
    const auto absolute = std::filesystem::weakly_canonical(file, error);
    const auto linked = error ? file : absolute;
    if (std::filesystem::equivalent(linked.parent_path(), m_parts.importFolder, error))
        return refused(quoted(file) + "はカレンダーフォルダにあり、すでに読み込まれています。");
    if (!m_parts.settings->addLinkedFile(linked)) return refused(quoted(file) + "はすでに追加されています。");
    if (auto problem = m_parts.settings->writeProblem(); !problem.empty()) return refused(std::move(problem));
    notify();
    return {};
}

Expected<void, std::string> CalendarSources::addSubscription(const std::string& address, const std::string& name)
{
    if (!m_parts.subscriptions) return refused("カレンダーを購読できません。");
    auto added = m_parts.subscriptions->add(address, name);
    if (!added.problem.empty()) return refused(std::move(added.problem));
    if (auto problem = m_parts.settings->writeProblem(); !problem.empty()) return refused(std::move(problem));
    notify();
    return {};
}

void CalendarSources::remove(const std::string& sourceId)
{
    if (sourceId.starts_with(kSubscriptionPrefix) && m_parts.subscriptions)
        m_parts.subscriptions->remove(sourceId.substr(std::string_view(kSubscriptionPrefix).size()));
    else if (sourceId.starts_with(kFilePrefix) && m_parts.settings)
        m_parts.settings->removeLinkedFile(sourceId.substr(std::string_view(kFilePrefix).size()));
    else
        return;
    notify();
}

void CalendarSources::refreshSubscriptions()
{
    if (m_parts.subscriptions) m_parts.subscriptions->refreshNow();
}

void CalendarSources::setChangeHandler(std::function<void()> changed)
{
    std::lock_guard lock(m_handlerMutex);
    if (changed)
        m_listeners[0] = std::move(changed);
    else
        m_listeners.erase(0);
}

int CalendarSources::addListener(std::function<void()> changed)
{
    std::lock_guard lock(m_handlerMutex);
    m_listeners[m_nextToken] = std::move(changed);
    return m_nextToken++;
}

void CalendarSources::removeListener(int token)
{
    std::lock_guard lock(m_handlerMutex);
    m_listeners.erase(token);
}

void CalendarSources::notify()
{
    std::lock_guard lock(m_handlerMutex);
    for (const auto& [token, listener] : m_listeners)
        if (listener) listener();
}

} // namespace tc
