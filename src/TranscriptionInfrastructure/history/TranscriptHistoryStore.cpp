#include "TranscriptionInfrastructure/history/TranscriptHistoryStore.h"

#include "TranscriptionInfrastructure/settings/AppPaths.h"
#include "TranscriptionInfrastructure/files/AtomicFileWriter.h"
#include "TranscriptionInfrastructure/files/FileReader.h"
#include "TranscriptionInfrastructure/history/HistoryJsonCodec.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <new>
#include <system_error>

namespace tc {

namespace {

std::string localTimeStamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y%m%d-%H%M%S", &local);
    return buffer;
}

} // namespace

// Holds flock on "<history>.lock" for its lifetime, so that two processes never read-merge-write at once. Without
// a lock file (a read-only folder) the call goes ahead unlocked: it can then not write anything either.
// The lock file also holds a stamp that every writer renews: a store that finds its own stamp there knows nobody
// else wrote since, without reading the history (inode numbers and coarse mtimes repeat too easily to tell).
class TranscriptHistoryStore::FileLock {
public:
    static constexpr std::size_t kStampBytes = 16;

    explicit FileLock(const std::filesystem::path& history)
    {
        const auto path = history.string() + ".lock";
        m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd < 0) return;
        while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~FileLock()
    {
        if (m_fd >= 0) ::close(m_fd);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // The last writer's stamp; empty when there is none or no lock file.
    std::string stamp() const
    {
        std::string stamp(kStampBytes, '\0');
        if (m_fd < 0 || ::pread(m_fd, stamp.data(), stamp.size(), 0) != static_cast<ssize_t>(stamp.size())) return {};
        return stamp;
    }
    // A new stamp for a write just made; empty when it could not be recorded.
    std::string renewStamp()
    {
        // The process id and the clock tell writers apart even where a random generator was copied by fork().
        const auto bytes = Uuid::random().bytes();
        std::string stamp(bytes.begin(), bytes.end());
        const auto pid = static_cast<std::uint32_t>(::getpid());
        const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        std::memcpy(stamp.data(), &pid, sizeof pid);
        std::memcpy(stamp.data() + sizeof pid, &now, sizeof now);
        if (m_fd < 0 || ::pwrite(m_fd, stamp.data(), stamp.size(), 0) != static_cast<ssize_t>(stamp.size())) return {};
        return stamp;
    }

private:
    int m_fd = -1;
};

namespace {

std::string sessionCount(std::size_t count)
{
    return std::to_string(count) + " 件";
}

TranscriptHistoryStore::SaveError saveError(const std::string& reason)
{
    return {"履歴を保存できませんでした: " + reason +
            "。ディスクの空き容量と保存先フォルダの書き込み権限を確認してください。"};
}

} // namespace

TranscriptHistoryStore::TranscriptHistoryStore(std::filesystem::path fileURL, std::int64_t maxLinesPerSession)
    : m_fileURL(std::move(fileURL)), m_maxLinesPerSession(std::max<std::int64_t>(maxLinesPerSession, 0))
{}

std::filesystem::path TranscriptHistoryStore::fileURLFor(const std::string& folderName,
                                                         const std::optional<std::filesystem::path>& baseDirectory)
{
    const auto base = baseDirectory ? *baseDirectory : AppPaths::current().dataHome();
    return base / folderName / "history.json";
}

std::filesystem::path TranscriptHistoryStore::defaultFileURL()
{
    return AppPaths::current().historyFile();
}

std::vector<TranscriptSession> TranscriptHistoryStore::load()
{
    std::lock_guard lock(m_mutex);
    m_damage.reset();
    m_fileIsOurs = false;
    m_lastSeen.reset();
    m_lastStamp.clear();
    m_addedElsewhere.clear();
    // Without a file there is nothing to read and nothing to create, not even the lock.
    std::error_code error;
    if (std::filesystem::symlink_status(m_fileURL, error).type() == std::filesystem::file_type::not_found) return {};
    FileLock fileLock(m_fileURL);
    auto sessions = loadLocked(fileLock);
    for (const auto& session : sessions)
        m_knownIds.insert(session.id);
    return sessions;
}

std::optional<TranscriptHistoryStore::DamagedHistory> TranscriptHistoryStore::damageFoundAtLoad()
{
    std::lock_guard lock(m_mutex);
    return m_damage;
}

// load() has already forgotten what the store knew of the file.
std::vector<TranscriptSession> TranscriptHistoryStore::loadLocked(FileLock& fileLock)
{
    std::error_code error;
    const auto status = std::filesystem::symlink_status(m_fileURL, error);
    if (status.type() == std::filesystem::file_type::not_found) return {};
    const auto bytes = FileReader::readAll(m_fileURL);
    if (!bytes) return salvageLocked(bytes, fileLock);

    if (auto sessions = HistoryJsonCodec::decodeStore(*bytes)) {
        m_fileIsOurs = true;
        m_lastSeen = currentIdentity();
        m_lastStamp = fileLock.stamp();
        return std::move(*sessions);
    }

    auto legacyLines = HistoryJsonCodec::decodeLegacy(*bytes);
    if (!legacyLines) return salvageLocked(bytes, fileLock);
    if (legacyLines->empty()) return {};

    TranscriptSession session{Uuid::random(), std::move(*legacyLines), 0, std::nullopt};
    session.startedAt = session.lines.front().time;
    session.endedAt = session.lines.back().time;

    // The old file is copied before the rewrite. If the copy fails, the save below renames the original aside instead,
    // or leaves it in place when even that fails.
    if (AtomicFileWriter::write(asidePath("legacy"), *bytes)) m_fileIsOurs = true;
    static_cast<void>(saveLocked({session}, fileLock));
    return {std::move(session)};
}

// The damaged file goes aside now rather than at the first save, so the user can be told where it is, and what
// could be read of it is written back at once, so that a crash before the first save loses nothing of it.
std::vector<TranscriptSession> TranscriptHistoryStore::salvageLocked(const std::optional<std::string>& bytes,
                                                                     FileLock& fileLock)
{
    std::optional<HistoryJsonCodec::Salvage> salvage;
    if (bytes) salvage = HistoryJsonCodec::salvageStore(*bytes);
    const auto aside = asidePath(bytes ? "damaged" : "unreadable");
    // Unmovable (a read-only folder): left where it is; the save refuses to overwrite it and says so.
    if (std::rename(m_fileURL.c_str(), aside.c_str()) != 0)
        return salvage ? std::move(salvage->sessions) : std::vector<TranscriptSession>{};

    DamagedHistory damage;
    damage.keptAsidePath = aside;
    if (salvage) {
        damage.recoveredSessions = salvage->sessions.size();
        damage.droppedLines = salvage->droppedLines;
    }
    damage.notice = "履歴ファイルが壊れていたため「" + aside.string() + "」へ退避しました。読み取れたセッション " +
                    sessionCount(damage.recoveredSessions) + "を復元しました。";
    if (damage.droppedLines > 0 || (salvage && (salvage->droppedSessions > 0 || salvage->cutShort)))
        damage.notice += "読み取れなかった部分は退避したファイルに元のまま残っています。";
    m_damage = std::move(damage);

    if (!salvage || salvage->sessions.empty()) return {};
    if (!saveLocked(salvage->sessions, fileLock)) m_fileIsOurs = false;
    return std::move(salvage->sessions);
}

Expected<void, TranscriptHistoryStore::SaveError>
TranscriptHistoryStore::save(const std::vector<TranscriptSession>& sessions)
{
    std::lock_guard lock(m_mutex);
    std::error_code ignored;
    std::filesystem::create_directories(m_fileURL.parent_path(), ignored);
    FileLock fileLock(m_fileURL);
    for (const auto& session : sessions)
        m_knownIds.insert(session.id);
    auto added = sessionsAddedElsewhereLocked(sessions, fileLock);
    if (added.empty()) return saveLocked(sessions, fileLock);
    std::vector<TranscriptSession> merged;
    merged.reserve(sessions.size() + added.size());
    merged.insert(merged.end(), sessions.begin(), sessions.end());
    std::move(added.begin(), added.end(), std::back_inserter(merged));
    return saveLocked(merged, fileLock);
}

void TranscriptHistoryStore::clear()
{
    std::lock_guard lock(m_mutex);
    std::error_code ignored;
    if (std::filesystem::symlink_status(m_fileURL, ignored).type() != std::filesystem::file_type::not_found) {
        FileLock fileLock(m_fileURL);
        std::filesystem::remove(m_fileURL, ignored);
        fileLock.renewStamp();
    }
    m_addedElsewhere.clear();
    m_fileIsOurs = false;
    m_lastSeen.reset();
    m_lastStamp.clear();
}

std::optional<TranscriptHistoryStore::FileIdentity> TranscriptHistoryStore::currentIdentity() const
{
    struct stat info {};
    if (::stat(m_fileURL.c_str(), &info) != 0) return std::nullopt;
    return FileIdentity{static_cast<std::uintmax_t>(info.st_dev), static_cast<std::uintmax_t>(info.st_ino),
                        static_cast<std::intmax_t>(info.st_size),
                        static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

std::vector<TranscriptSession>
TranscriptHistoryStore::sessionsAddedElsewhereLocked(const std::vector<TranscriptSession>& sessions,
                                                     const FileLock& fileLock)
{
    const auto identity = currentIdentity();
    if (!identity) {
        m_addedElsewhere.clear();
        return {};
    }
    // Unchanged since this store wrote it: what it holds beyond the caller's list is what was merged last time.
    const bool unchanged = identity == m_lastSeen && !m_lastStamp.empty() && fileLock.stamp() == m_lastStamp;
    if (!unchanged) {
        const auto bytes = FileReader::readAll(m_fileURL);
        auto stored = bytes ? HistoryJsonCodec::decodeStore(*bytes) : std::nullopt;
        // Not a history: saveLocked moves it aside.
        if (!stored) {
            m_addedElsewhere.clear();
            return {};
        }
        m_fileIsOurs = true;
        m_addedElsewhere = std::move(*stored);
    }
    std::unordered_set<Uuid> listed;
    for (const auto& session : sessions)
        listed.insert(session.id);
    std::erase_if(m_addedElsewhere, [&](const TranscriptSession& session) {
        return m_knownIds.count(session.id) > 0 || !listed.insert(session.id).second;
    });
    return m_addedElsewhere;
}

Expected<void, TranscriptHistoryStore::SaveError>
TranscriptHistoryStore::saveLocked(const std::vector<TranscriptSession>& sessions, FileLock& fileLock)
{
    std::error_code ignored;
    std::filesystem::create_directories(m_fileURL.parent_path(), ignored);
    // Before encoding, so that the old file's bytes and the new ones are not in memory together.
    if (!m_fileIsOurs) {
        if (auto protectedFile = protectUnknownFileLocked(); !protectedFile) return protectedFile;
    }

    std::string bytes;
    try {
        bytes = HistoryJsonCodec::encodeStore(sessions, m_maxLinesPerSession);
    } catch (const std::bad_alloc&) {
        return Unexpected{saveError("メモリが足りません")};
    }
    if (const auto written = AtomicFileWriter::write(m_fileURL, bytes); !written)
        return Unexpected{saveError(AtomicFileWriter::describe(written.error()))};
    m_fileIsOurs = true;
    m_lastSeen = currentIdentity();
    m_lastStamp = fileLock.renewStamp();
    return {};
}

Expected<void, TranscriptHistoryStore::SaveError> TranscriptHistoryStore::protectUnknownFileLocked()
{
    std::error_code error;
    const auto status = std::filesystem::symlink_status(m_fileURL, error);
    if (status.type() == std::filesystem::file_type::not_found) return {};

    std::string tag = "unreadable";
    if (const auto bytes = FileReader::readAll(m_fileURL)) {
        if (HistoryJsonCodec::decodeStore(*bytes)) return {};
        if (HistoryJsonCodec::decodeLegacy(*bytes)) tag = "legacy";
    }
    const auto aside = asidePath(tag);
    if (std::rename(m_fileURL.c_str(), aside.c_str()) != 0) {
        const int renameError = errno;
        return Unexpected{SaveError{"履歴を保存できませんでした: 読み込めない履歴ファイル「" + m_fileURL.string() +
                                    "」を退避できませんでした (" + AtomicFileWriter::describe({renameError}) +
                                    ")。このファイルを別の場所へ移してから、もう一度お試しください。"}};
    }
    return {};
}

std::filesystem::path TranscriptHistoryStore::asidePath(const std::string& tag) const
{
    const auto folder = m_fileURL.parent_path();
    const std::string base = m_fileURL.stem().string() + "." + tag + "-" + localTimeStamp();
    const std::string extension = m_fileURL.extension().string();
    auto candidate = folder / (base + extension);
    std::error_code ignored;
    for (int n = 2; std::filesystem::exists(std::filesystem::symlink_status(candidate, ignored)); ++n)
        candidate = folder / (base + "-" + std::to_string(n) + extension);
    return candidate;
}

} // namespace tc
