#include "TranscriptionInfrastructure/TranscriptHistoryStore.h"

#include "TranscriptionInfrastructure/AtomicFileWriter.h"
#include "TranscriptionInfrastructure/FileReader.h"
#include "TranscriptionInfrastructure/HistoryJsonCodec.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <system_error>

namespace tc {

namespace {

std::optional<std::filesystem::path> dataHome()
{
    // Relative values are to be ignored, as for every XDG variable.
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') return std::filesystem::path(xdg);
    if (const char* home = std::getenv("HOME"); home && *home) return std::filesystem::path(home) / ".local/share";
    return std::nullopt;
}

std::string localTimeStamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y%m%d-%H%M%S", &local);
    return buffer;
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
    std::filesystem::path base;
    if (baseDirectory) {
        base = *baseDirectory;
    } else if (const auto home = dataHome()) {
        base = *home;
    } else {
        std::error_code ignored;
        base = std::filesystem::temp_directory_path(ignored);
    }
    return base / folderName / "history.json";
}

std::filesystem::path TranscriptHistoryStore::defaultFileURL()
{
    return fileURLFor("transcription-corvane");
}

std::vector<TranscriptSession> TranscriptHistoryStore::load()
{
    std::lock_guard lock(m_mutex);
    m_fileIsOurs = false;
    const auto bytes = FileReader::readAll(m_fileURL);
    if (!bytes) return {};

    if (auto sessions = HistoryJsonCodec::decodeStore(*bytes)) {
        m_fileIsOurs = true;
        return std::move(*sessions);
    }

    // Anything else stays as it is until a save, which moves it aside first.
    auto legacyLines = HistoryJsonCodec::decodeLegacy(*bytes);
    if (!legacyLines || legacyLines->empty()) return {};

    TranscriptSession session{Uuid::random(), std::move(*legacyLines), 0, std::nullopt};
    session.startedAt = session.lines.front().time;
    session.endedAt = session.lines.back().time;

    // The old file is copied before the rewrite. If the copy fails, the save below renames the original aside instead,
    // or leaves it in place when even that fails.
    if (!AtomicFileWriter::write(asidePath("legacy"), *bytes)) m_fileIsOurs = true;
    saveLocked({session});
    return {std::move(session)};
}

std::optional<TranscriptHistoryStore::SaveError>
TranscriptHistoryStore::save(const std::vector<TranscriptSession>& sessions)
{
    std::lock_guard lock(m_mutex);
    return saveLocked(sessions);
}

void TranscriptHistoryStore::clear()
{
    std::lock_guard lock(m_mutex);
    std::error_code ignored;
    std::filesystem::remove(m_fileURL, ignored);
    m_fileIsOurs = false;
}

std::optional<TranscriptHistoryStore::SaveError>
TranscriptHistoryStore::saveLocked(const std::vector<TranscriptSession>& sessions)
{
    std::error_code ignored;
    std::filesystem::create_directories(m_fileURL.parent_path(), ignored);
    // Before encoding, so that the old file's bytes and the new ones are not in memory together.
    if (!m_fileIsOurs) {
        if (auto error = protectUnknownFileLocked()) return error;
    }

    std::string bytes;
    try {
        bytes = HistoryJsonCodec::encodeStore(sessions, m_maxLinesPerSession);
    } catch (const std::bad_alloc&) {
        return saveError("メモリが足りません");
    }
    if (const auto failure = AtomicFileWriter::write(m_fileURL, bytes))
        return saveError(AtomicFileWriter::describe(*failure));
    m_fileIsOurs = true;
    return std::nullopt;
}

std::optional<TranscriptHistoryStore::SaveError> TranscriptHistoryStore::protectUnknownFileLocked()
{
    std::error_code error;
    const auto status = std::filesystem::symlink_status(m_fileURL, error);
    if (status.type() == std::filesystem::file_type::not_found) return std::nullopt;

    std::string tag = "unreadable";
    if (const auto bytes = FileReader::readAll(m_fileURL)) {
        if (HistoryJsonCodec::decodeStore(*bytes)) return std::nullopt;
        if (HistoryJsonCodec::decodeLegacy(*bytes)) tag = "legacy";
    }
    const auto aside = asidePath(tag);
    if (std::rename(m_fileURL.c_str(), aside.c_str()) != 0) {
        const int renameError = errno;
        return SaveError{"履歴を保存できませんでした: 読み込めない履歴ファイル「" + m_fileURL.string() +
                         "」を退避できませんでした (" + AtomicFileWriter::describe({renameError}) +
                         ")。このファイルを別の場所へ移してから、もう一度お試しください。"};
    }
    return std::nullopt;
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
