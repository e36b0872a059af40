#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <vector>

namespace tc {

struct CalendarEntry;

// The events of .ics files, each file parsed once and kept until its size or modification time changes.
// Not thread-safe: its owner serialises the calls.
class CalendarFileCache {
public:
    // Files larger than maxFileBytes are skipped whole.
    explicit CalendarFileCache(std::uintmax_t maxFileBytes);
    ~CalendarFileCache();
    CalendarFileCache(const CalendarFileCache&) = delete;
    CalendarFileCache& operator=(const CalendarFileCache&) = delete;

    // The events of `file`; empty when it cannot be read or parsed, null when it is missing or too large.
    // The entries keep the file's parse tree alive (their time zones point into it).
    std::shared_ptr<const std::vector<CalendarEntry>> entries(const std::filesystem::path& file);
    // Forgets every file not among `files`.
    void keepOnly(const std::vector<std::filesystem::path>& files);

private:
    struct ParsedFile;

    const std::uintmax_t m_maxFileBytes;
    std::map<std::filesystem::path, std::shared_ptr<const ParsedFile>> m_files;
};

} // namespace tc
