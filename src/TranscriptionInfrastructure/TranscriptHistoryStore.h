#pragma once

#include "TranscriptionDomain/TranscriptSession.h"

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tc {

// The user's transcript sessions in one JSON file ("version" 2 with "sessions"; the old flat "lines" layout is
// migrated on load). Thread-safe: one mutex serialises load, save and clear, each of which handles the whole file.
class TranscriptHistoryStore {
public:
    struct SaveError {
        // Japanese, saying what went wrong and what to do.
        std::string message;
    };

    static constexpr std::int64_t kDefaultMaxLinesPerSession = 5000;

    // Touches no file. A negative cap counts as 0.
    explicit TranscriptHistoryStore(std::filesystem::path fileURL,
                                    std::int64_t maxLinesPerSession = kDefaultMaxLinesPerSession);

    // <baseDirectory or ${XDG_DATA_HOME:-$HOME/.local/share}>/<folderName>/history.json; the temporary folder when
    // there is no home.
    static std::filesystem::path fileURLFor(const std::string& folderName,
                                            const std::optional<std::filesystem::path>& baseDirectory = std::nullopt);
    // fileURLFor("transcription-corvane").
    static std::filesystem::path defaultFileURL();

    const std::filesystem::path& fileURL() const { return m_fileURL; }
    std::int64_t maxLinesPerSession() const { return m_maxLinesPerSession; }

    // The stored sessions; empty when the file is missing, unreadable or not a history. An old-layout file is kept as
    // a backup copy and rewritten in the current layout.
    std::vector<TranscriptSession> load();

    // Replaces the file with these sessions, each cut to its newest maxLinesPerSession() lines. Nothing on success;
    // on failure the previous file is left whole. A file that is not a history of ours is first moved aside, never
    // overwritten.
    std::optional<SaveError> save(const std::vector<TranscriptSession>& sessions);

    // Deletes the file; a missing file is fine.
    void clear();

private:
    std::optional<SaveError> saveLocked(const std::vector<TranscriptSession>& sessions);
    // Moves the current file aside unless it is a history this store may overwrite.
    std::optional<SaveError> protectUnknownFileLocked();
    // A free name beside the history: history.<tag>-yyyyMMdd-HHmmss[-n].json.
    std::filesystem::path asidePath(const std::string& tag) const;

    const std::filesystem::path m_fileURL;
    const std::int64_t m_maxLinesPerSession;
    std::mutex m_mutex;
    // True while the file is known to be a history this store read or wrote, so that saving may replace it.
    bool m_fileIsOurs = false;
};

} // namespace tc
