#include "TranscriptionInfrastructure/calendar/CalendarFileCache.h"

#include "TranscriptionInfrastructure/calendar/CalendarEntry.h"

#include <libical/ical.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>

namespace tc {

namespace {

struct ComponentDeleter {
    void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};
using ComponentPtr = std::unique_ptr<icalcomponent, ComponentDeleter>;

std::optional<std::string> readWholeFile(const std::filesystem::path& file)
{
    std::ifstream stream(file, std::ios::binary);
    if (!stream) return std::nullopt;
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

} // namespace

struct CalendarFileCache::ParsedFile {
    std::filesystem::file_time_type modified;
    std::uintmax_t size = 0;
    // The parse tree stays alive: the entries' time zones point into its VTIMEZONEs.
    ComponentPtr root;
    std::vector<CalendarEntry> entries;
};

CalendarFileCache::CalendarFileCache(std::uintmax_t maxFileBytes) : m_maxFileBytes(maxFileBytes) {}

CalendarFileCache::~CalendarFileCache() = default;

std::shared_ptr<const std::vector<CalendarEntry>> CalendarFileCache::entries(const std::filesystem::path& file)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (error || size > m_maxFileBytes) return nullptr;
    const auto modified = std::filesystem::last_write_time(file, error);
    if (error) return nullptr;
    if (const auto cached = m_files.find(file);
        cached != m_files.end() && cached->second->size == size && cached->second->modified == modified)
        return {cached->second, &cached->second->entries};

    auto parsed = std::make_shared<ParsedFile>();
    parsed->size = size;
    parsed->modified = modified;
    if (const auto text = readWholeFile(file)) {
        parsed->root.reset(icalparser_parse_string(text->c_str()));
        if (parsed->root) parsed->entries = CalendarEntry::readAll(parsed->root.get());
    }
    m_files[file] = parsed;
    return {parsed, &parsed->entries};
}

void CalendarFileCache::keepOnly(const std::vector<std::filesystem::path>& files)
{
    for (auto cached = m_files.begin(); cached != m_files.end();) {
        if (std::find(files.begin(), files.end(), cached->first) == files.end())
            cached = m_files.erase(cached);
        else
            ++cached;
    }
}

} // namespace tc
