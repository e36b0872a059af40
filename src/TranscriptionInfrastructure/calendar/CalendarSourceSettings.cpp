#include "TranscriptionInfrastructure/calendar/CalendarSourceSettings.h"

#include "TranscriptionInfrastructure/files/AtomicFileWriter.h"
#include "TranscriptionInfrastructure/files/FileReader.h"
#include "TranscriptionInfrastructure/settings/AppPaths.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <system_error>

namespace tc {

namespace {

using nlohmann::json;

std::string textOf(const json& object, const char* key)
{
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::optional<Date> dateOf(const json& object, const char* key)
{
    const auto found = object.find(key);
    if (found == object.end() || !found->is_number()) return std::nullopt;
    return found->get<double>();
}

} // namespace

std::filesystem::path CalendarSourceSettings::defaultFile()
{
    return AppPaths::current().configDirectory() / "calendar-sources.json";
}

CalendarSourceSettings::CalendarSourceSettings(std::filesystem::path file) : m_file(std::move(file))
{
    load();
}

void CalendarSourceSettings::load()
{
    const auto text = FileReader::readAll(m_file);
    if (!text) return;
    const json root = json::parse(*text, nullptr, false);
    if (!root.is_object()) {
        std::error_code error;
        std::filesystem::rename(m_file, m_file.string() + ".broken", error);
        return;
    }
    if (const auto disabled = root.find("disabled"); disabled != root.end() && disabled->is_array())
        for (const auto& id : *disabled)
            if (id.is_string()) m_disabled.insert(id.get<std::string>());
    if (const auto linked = root.find("linkedFiles"); linked != root.end() && linked->is_array())
        for (const auto& file : *linked)
            if (file.is_string()) m_linkedFiles.emplace_back(file.get<std::string>());
    if (const auto subscriptions = root.find("subscriptions");
        subscriptions != root.end() && subscriptions->is_array()) {
        for (const auto& item : *subscriptions) {
            if (!item.is_object()) continue;
            Subscription subscription{textOf(item, "id"),   textOf(item, "address"),      textOf(item, "name"),
                                      textOf(item, "etag"), textOf(item, "lastModified"), dateOf(item, "fetchedAt"),
                                      textOf(item, "problem")};
            if (!subscription.id.empty() && !subscription.address.empty())
                m_subscriptions.push_back(std::move(subscription));
        }
    }
}

void CalendarSourceSettings::save()
{
    json root = json::object();
    root["version"] = 1;
    root["disabled"] = json::array();
    for (const auto& id : m_disabled)
        root["disabled"].push_back(id);
    root["linkedFiles"] = json::array();
    for (const auto& file : m_linkedFiles)
        root["linkedFiles"].push_back(file.string());
    root["subscriptions"] = json::array();
    for (const auto& s : m_subscriptions) {
        json item = {{"id", s.id},     {"address", s.address},           {"name", s.name},
                     {"etag", s.etag}, {"lastModified", s.lastModified}, {"problem", s.problem}};
        if (s.fetchedAt) item["fetchedAt"] = *s.fetchedAt;
        root["subscriptions"].push_back(std::move(item));
    }
    std::error_code error;
    std::filesystem::create_directories(m_file.parent_path(), error);
    // The writer keeps an existing file's mode: one left readable by others (copied in, restored) is narrowed first.
    if (std::filesystem::exists(m_file, error))
        std::filesystem::permissions(m_file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::replace, error);
    // Written whole into a new file of mode 0600, renamed over the old one: the addresses never sit in a file
    // others can read, even for a moment.
    const auto written = AtomicFileWriter::write(m_file, root.dump(2) + "\n", 0600);
    m_writeProblem = written
                         ? std::string()
                         : "カレンダーの設定を保存できませんでした（" + AtomicFileWriter::describe(written.error()) +
                               "）。" + m_file.parent_path().string() + " に書き込めるか確かめてください。";
}

bool CalendarSourceSettings::isEnabled(const std::string& sourceId) const
{
    std::lock_guard lock(m_mutex);
    return !m_disabled.count(sourceId);
}

void CalendarSourceSettings::setEnabled(const std::string& sourceId, bool enabled)
{
    std::lock_guard lock(m_mutex);
    if (enabled == !m_disabled.count(sourceId)) return;
    if (enabled)
        m_disabled.erase(sourceId);
    else
        m_disabled.insert(sourceId);
    save();
}

std::set<std::string> CalendarSourceSettings::disabledSources() const
{
    std::lock_guard lock(m_mutex);
    return m_disabled;
}

std::vector<std::filesystem::path> CalendarSourceSettings::linkedFiles() const
{
    std::lock_guard lock(m_mutex);
    return m_linkedFiles;
}

bool CalendarSourceSettings::addLinkedFile(const std::filesystem::path& file)
{
    std::lock_guard lock(m_mutex);
    if (std::find(m_linkedFiles.begin(), m_linkedFiles.end(), file) != m_linkedFiles.end()) return false;
    m_linkedFiles.push_back(file);
    save();
    return true;
}

void CalendarSourceSettings::removeLinkedFile(const std::filesystem::path& file)
{
    std::lock_guard lock(m_mutex);
    const auto end = std::remove(m_linkedFiles.begin(), m_linkedFiles.end(), file);
    if (end == m_linkedFiles.end()) return;
    m_linkedFiles.erase(end, m_linkedFiles.end());
    m_disabled.erase("file:" + file.string());
    save();
}

std::vector<CalendarSourceSettings::Subscription> CalendarSourceSettings::subscriptions() const
{
    std::lock_guard lock(m_mutex);
    return m_subscriptions;
}

std::optional<CalendarSourceSettings::Subscription> CalendarSourceSettings::subscription(const std::string& id) const
{
    std::lock_guard lock(m_mutex);
    for (const auto& s : m_subscriptions)
        if (s.id == id) return s;
    return std::nullopt;
}

void CalendarSourceSettings::putSubscription(const Subscription& subscription)
{
    std::lock_guard lock(m_mutex);
    const auto found = std::find_if(m_subscriptions.begin(), m_subscriptions.end(),
                                    [&](const Subscription& s) { return s.id == subscription.id; });
    if (found != m_subscriptions.end()) {
        if (*found == subscription) return;
        *found = subscription;
    } else {
        m_subscriptions.push_back(subscription);
    }
    save();
}

bool CalendarSourceSettings::replaceSubscription(const Subscription& subscription)
{
    std::lock_guard lock(m_mutex);
    const auto found = std::find_if(m_subscriptions.begin(), m_subscriptions.end(),
                                    [&](const Subscription& s) { return s.id == subscription.id; });
    if (found == m_subscriptions.end()) return false;
    if (*found == subscription) return true;
    *found = subscription;
    save();
    return true;
}

void CalendarSourceSettings::removeSubscription(const std::string& id)
{
    std::lock_guard lock(m_mutex);
    const auto end = std::remove_if(m_subscriptions.begin(), m_subscriptions.end(),
                                    [&](const Subscription& s) { return s.id == id; });
    if (end == m_subscriptions.end()) return;
    m_subscriptions.erase(end, m_subscriptions.end());
    m_disabled.erase("subscription:" + id);
    save();
}

std::string CalendarSourceSettings::writeProblem() const
{
    std::lock_guard lock(m_mutex);
    return m_writeProblem;
}

} // namespace tc
