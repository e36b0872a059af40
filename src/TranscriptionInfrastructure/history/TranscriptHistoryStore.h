#pragma once

#include "TranscriptionApplication/TranscriptHistory.h"
#include "TranscriptionDomain/Expected.h"
#include "TranscriptionDomain/TranscriptSession.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace tc {

// The transcript history on Linux: the user's sessions in one JSON file ("version" 2 with "sessions"; the old flat
// "lines" layout is migrated on load). Several stores, in this process or others, may share the file: each call holds
// an advisory lock on "<file>.lock" beside it, and a save keeps the sessions other writers added. Thread-safe: one
// mutex serialises load, save and clear within the process.
class TranscriptHistoryStore : public TranscriptHistory {
public:
    static constexpr std::int64_t kDefaultMaxLinesPerSession = 5000;

    // Touches no file. A negative cap counts as 0.
    explicit TranscriptHistoryStore(std::filesystem::path fileURL,
                                    std::int64_t maxLinesPerSession = kDefaultMaxLinesPerSession);

    // <baseDirectory, else AppPaths::dataHome()>/<folderName>/history.json.
    static std::filesystem::path fileURLFor(const std::string& folderName,
                                            const std::optional<std::filesystem::path>& baseDirectory = std::nullopt);
    // AppPaths::historyFile() of this process.
    static std::filesystem::path defaultFileURL();

    const std::filesystem::path& fileURL() const { return m_fileURL; }
    std::int64_t maxLinesPerSession() const { return m_maxLinesPerSession; }

    // The stored sessions; empty when the file is missing or holds nothing readable. An old-layout file is kept as
    // a backup copy and rewritten in the current layout. A damaged or unreadable file is moved aside unchanged and
    // what still decodes of it is returned and written back; damageFoundAtLoad() then tells about it.
    std::vector<TranscriptSession> load() override;
    // What the last load() moved aside; nothing when the file was whole.
    std::optional<DamagedHistory> damageFoundAtLoad() override;

    // Writes these sessions, each cut to its newest maxLinesPerSession() lines, followed by the sessions another
    // writer put in the file since (those this store never handed out). A session this store loaded or saved and
    // the caller no longer lists stays removed. On failure the previous file is left whole. A file that is not a
    // history of ours is first moved aside, never overwritten.
    Expected<void, SaveError> save(const std::vector<TranscriptSession>& sessions) override;

    // Deletes the file; a missing file is fine. The sessions this store knew stay removed from later saves.
    void clear() override;

private:
    // The advisory lock on "<file>.lock" held during each call.
    class FileLock;
    struct FileIdentity {
        std::uintmax_t device = 0;
        std::uintmax_t inode = 0;
        std::intmax_t size = 0;
        std::int64_t modifiedNanoseconds = 0;
        friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
    };
    std::optional<FileIdentity> currentIdentity() const;
    std::vector<TranscriptSession> loadLocked(FileLock& fileLock);
    std::vector<TranscriptSession> salvageLocked(const std::optional<std::string>& bytes, FileLock& fileLock);
    // The sessions in the file that neither the caller lists nor this store ever handed out.
    std::vector<TranscriptSession> sessionsAddedElsewhereLocked(const std::vector<TranscriptSession>& sessions,
                                                                const FileLock& fileLock);
    Expected<void, SaveError> saveLocked(const std::vector<TranscriptSession>& sessions, FileLock& fileLock);
    // Moves the current file aside unless it is a history this store may overwrite.
    Expected<void, SaveError> protectUnknownFileLocked();
    // A free name beside the history: history.<tag>-yyyyMMdd-HHmmss[-n].json.
    std::filesystem::path asidePath(const std::string& tag) const;

    const std::filesystem::path m_fileURL;
    const std::int64_t m_maxLinesPerSession;
    std::mutex m_mutex;
    // True while the file is known to be a history this store read or wrote, so that saving may replace it.
    bool m_fileIsOurs = false;
    // Every session id this store loaded or was given: a known id missing from a save was removed on purpose.
    std::unordered_set<Uuid> m_knownIds;
    // The file as this store last read or wrote it; while it is unchanged nobody else has written.
    std::optional<FileIdentity> m_lastSeen;
    // The stamp this store last found or left in the lock file.
    std::string m_lastStamp;
    // The sessions of other writers that this store's last save kept in the file.
    std::vector<TranscriptSession> m_addedElsewhere;
    std::optional<DamagedHistory> m_damage;
};

} // namespace tc
