#include "TranscriptionInfrastructure/history/TranscriptHistoryStore.h"

#include "support/HistoryJsonReference.h"
#include "support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using tc::FinalizedLine;
using tc::TranscriptHistoryStore;
using tc::TranscriptSession;
using tc::Uuid;

using tc::test::readText;

namespace {

void writeText(const std::filesystem::path& file, const std::string& text)
{
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

FinalizedLine line(const std::string& text, double time)
{
    return {Uuid::random(), text, time};
}

TranscriptSession session(std::size_t lineCount, double startedAt, std::optional<double> endedAt)
{
    TranscriptSession result{Uuid::random(), {}, startedAt, endedAt};
    for (std::size_t i = 0; i < lineCount; ++i)
        result.lines.push_back(line("行 " + std::to_string(i), startedAt + static_cast<double>(i)));
    return result;
}

// Every file in the folder other than the history itself and its lock.
std::vector<std::filesystem::path> otherFiles(const std::filesystem::path& folder)
{
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename() != "history.json" && entry.path().filename() != "history.json.lock")
            files.push_back(entry.path());
    return files;
}

class HistoryStore : public ::testing::Test {
protected:
    std::filesystem::path folder() const { return m_dir.path() / "transcription-corvane"; }
    std::filesystem::path file() const { return folder() / "history.json"; }

    tc::test::TemporaryDirectory m_dir;
};

} // namespace

TEST_F(HistoryStore, RoundTripsSessionsAndLivesOnlyWhereItWasToldTo)
{
    // Nothing is created before the first save, and the first save creates the folders.
    TranscriptHistoryStore store(file());
    EXPECT_TRUE(store.load().empty());
    EXPECT_FALSE(std::filesystem::exists(folder()));

    std::vector<TranscriptSession> sessions{session(0, 786000000.123456789, 786000100.5), session(0, 7.25, {})};
    // Dates come back bit for bit, from the smallest to the largest double.
    for (const double date :
         {786000000.123456789, 0.1, -12345.678901234567, 0.0, 1e-7, 1e21, 5e-324, 1.7976931348623157e308, 786000000.0})
        sessions[0].lines.push_back(line("引用\"符\"と\\と改行\nとタブ\tと制御\x01文字と/", date));
    ASSERT_TRUE(store.save(sessions));
    EXPECT_EQ(store.load(), sessions);
    EXPECT_EQ(TranscriptHistoryStore(file()).load(), sessions);
    EXPECT_FALSE(nlohmann::json::parse(readText(file()))["sessions"][1].contains("endedAt"));

    // Clearing removes the file but not the folder; the next save starts afresh.
    store.clear();
    EXPECT_FALSE(std::filesystem::exists(file()));
    EXPECT_TRUE(std::filesystem::exists(folder()));
    store.clear();
    EXPECT_TRUE(store.load().empty());
    ASSERT_TRUE(store.save({}));
    EXPECT_EQ(readText(file()), R"({"version":2,"sessions":[]})");
    EXPECT_TRUE(otherFiles(folder()).empty());
}

// What the view model shows of a damaged file is checked in TranscriptionViewModelHistoryTests.
TEST_F(HistoryStore, FilesThatAreNotWholeAreKeptAsideAndWhatDecodesIsRecovered)
{
    const auto s = session(2, 100, 200);
    const auto one = nlohmann::json::array({nlohmann::json(s)});
    // Two sessions, 80 lines, and one text written as a number.
    auto morning = session(50, 1000, 1100);
    auto evening = session(30, 5000, 5100);
    std::string lineDamaged =
        nlohmann::json{{"version", 2}, {"sessions", {nlohmann::json(morning), nlohmann::json(evening)}}}.dump();
    const std::string badLine = "\"text\":\"" + evening.lines[7].text + "\"";
    lineDamaged.replace(lineDamaged.find(badLine, lineDamaged.find(evening.id.toString())), badLine.size(),
                        "\"text\":123");
    evening.lines.erase(evening.lines.begin() + 7);
    struct Case {
        std::string text;
        std::vector<TranscriptSession> loaded;
        std::optional<std::size_t> recovered; // sessions recovered from a file kept aside, if it was damaged
        std::size_t droppedLines = 0;
    };
    // Any integer version is read; without its version the file is not whole, but its sessions are the user's.
    for (const auto& [text, loaded, recovered, droppedLines] :
         std::vector<Case>{{nlohmann::json{{"version", 1}, {"sessions", one}}.dump(), {s}, {}},
                           {nlohmann::json{{"sessions", one}}.dump(), {s}, 1},
                           {lineDamaged, {morning, evening}, 2, 1},
                           {R"({"version":2})", {}, 0},
                           {R"({"version":"2","sessions":[]})", {}, 0},
                           {R"({"version":2,"sessions":[{"id":"not-a-uuid","lines":[],"startedAt":1}]})", {}, 0}}) {
        SCOPED_TRACE(text.substr(0, 80));
        std::filesystem::remove_all(folder());
        writeText(file(), text);
        TranscriptHistoryStore store(file());
        EXPECT_EQ(store.load(), loaded);
        const auto damage = store.damageFoundAtLoad();
        ASSERT_EQ(damage.has_value(), recovered.has_value());
        if (!damage) continue;
        EXPECT_EQ(damage->recoveredSessions, *recovered);
        EXPECT_EQ(damage->droppedLines, droppedLines);
        // On disk: the original byte for byte beside a whole history of what was recovered, if anything was.
        const auto kept = otherFiles(folder());
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_EQ(damage->keptAsidePath, kept[0]);
        EXPECT_TRUE(kept[0].filename().string().starts_with("history.damaged-")) << kept[0];
        EXPECT_EQ(kept[0].extension(), ".json");
        EXPECT_EQ(readText(kept[0]), text);
        EXPECT_EQ(std::filesystem::exists(file()), !loaded.empty());
        TranscriptHistoryStore again(file());
        EXPECT_EQ(again.load(), loaded);
        EXPECT_FALSE(again.damageFoundAtLoad().has_value());
        // The next saves replace the history and leave the kept file alone.
        ASSERT_TRUE(store.save({s}));
        EXPECT_EQ(store.load(), std::vector{s});
        ASSERT_TRUE(store.save({}));
        EXPECT_EQ(otherFiles(folder()).size(), 1u);
    }
}

TEST_F(HistoryStore, SaveWithoutLoadStillKeepsAForeignFile)
{
    writeText(file(), "garbage");
    TranscriptHistoryStore blind(file());
    ASSERT_TRUE(blind.save({session(1, 1, 2)}));
    const auto kept = otherFiles(folder());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(readText(kept[0]), "garbage");
    // A valid history written by someone else keeps its sessions: this store never had them to remove.
    TranscriptHistoryStore other(file());
    ASSERT_TRUE(other.save({}));
    EXPECT_EQ(otherFiles(folder()).size(), 1u);
    EXPECT_EQ(other.load().size(), 1u);
}

TEST_F(HistoryStore, LegacyFileIsBackedUpAndMigratedIntoOneSessionUnderTheCap)
{
    std::vector<FinalizedLine> lines;
    for (int i = 0; i < 5; ++i)
        lines.push_back(line(std::to_string(i), 10.5 + i));
    const std::string legacy = nlohmann::json{{"lines", lines}, {"other", true}}.dump();
    writeText(file(), legacy);

    // All lines come back now; the file keeps the newest three.
    const auto loaded = TranscriptHistoryStore(file(), 3).load();
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].lines, lines);
    EXPECT_EQ(loaded[0].startedAt, 10.5);
    EXPECT_EQ(loaded[0].endedAt, 14.5);
    const auto reread = TranscriptHistoryStore(file(), 3).load();
    ASSERT_EQ(reread.size(), 1u);
    EXPECT_EQ(reread[0].id, loaded[0].id);
    EXPECT_EQ(reread[0].lines, std::vector(lines.begin() + 2, lines.end()));
    const auto backups = otherFiles(folder());
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_TRUE(backups[0].filename().string().starts_with("history.legacy-")) << backups[0];
    EXPECT_EQ(readText(backups[0]), legacy);

    // An empty legacy file has nothing to migrate and is left as it is.
    std::filesystem::remove(backups[0]);
    writeText(file(), R"({"lines":[]})");
    EXPECT_TRUE(TranscriptHistoryStore(file()).load().empty());
    EXPECT_EQ(readText(file()), R"({"lines":[]})");
    EXPECT_TRUE(otherFiles(folder()).empty());
}

TEST_F(HistoryStore, FailedSavesReportWhyAndKeepTheOldFileWhole)
{
    TranscriptHistoryStore store(file());
    const std::vector old{session(2, 1, 2)};
    ASSERT_TRUE(store.save(old));
    const auto before = readText(file());
    // A file size limit makes the write fail part way, as a full disk would.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto written = store.save({session(2000, 1, 2)});
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    ASSERT_FALSE(written);
    EXPECT_NE(written.error().message.find("ファイルが大きすぎます"), std::string::npos) << written.error().message;
    EXPECT_EQ(readText(file()), before);
    EXPECT_TRUE(otherFiles(folder()).empty());
    EXPECT_EQ(store.load(), old);
}

TEST_F(HistoryStore, ConcurrentCallsNeverSeeAHalfWrittenFile)
{
    TranscriptHistoryStore store(file());
    const std::vector<std::vector<TranscriptSession>> versions{{session(300, 1, 2)},
                                                               {session(10, 3, 4), session(5, 5, 6)}};
    std::atomic<int> mismatches = 0;
    {
        std::vector<std::jthread> workers;
        for (int w = 0; w < 4; ++w)
            workers.emplace_back([&, w] {
                for (int i = 0; i < 20; ++i) {
                    if (w % 2 == 0 && !store.save(versions[static_cast<std::size_t>(i % 2)])) ++mismatches;
                    if (w % 2 == 0) continue;
                    const auto loaded = store.load();
                    if (!loaded.empty() && loaded != versions[0] && loaded != versions[1]) ++mismatches;
                }
            });
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_TRUE(otherFiles(folder()).empty());
}

TEST_F(HistoryStore, TwoStoresOnOneFileKeepEachOthersSessionsAndRemovalsStay)
{
    const auto old1 = session(2, 10, 20);
    const auto old2 = session(2, 30, 40);
    ASSERT_TRUE(TranscriptHistoryStore(file()).save({old1, old2}));
    TranscriptHistoryStore first(file());
    TranscriptHistoryStore second(file());
    ASSERT_EQ(first.load().size(), 2u);
    ASSERT_EQ(second.load().size(), 2u);

    auto mine = session(3, 100, 0);
    auto theirs = session(4, 200, 0);
    ASSERT_TRUE(first.save({mine, old1, old2}));
    ASSERT_TRUE(second.save({theirs, old1, old2}));
    mine.lines.push_back(line("あとから", 104));
    ASSERT_TRUE(first.save({mine, old1, old2}));

    EXPECT_EQ(TranscriptHistoryStore(file()).load(), (std::vector{mine, old1, old2, theirs}));

    // The first store's user clears everything: the sessions it knew stay gone, even though the second store
    // still lists them, while the second store's own session survives.
    first.clear();
    ASSERT_TRUE(second.save({theirs, old1, old2}));
    const auto fresh = session(1, 300, 0);
    ASSERT_TRUE(first.save({fresh}));
    EXPECT_EQ(TranscriptHistoryStore(file()).load(), (std::vector{fresh, theirs}));
}

TEST_F(HistoryStore, TwoProcessesSavingAtOnceLoseNoSession)
{
    constexpr int kSavesPerProcess = 25;
    ASSERT_TRUE(TranscriptHistoryStore(file()).save({}));
    std::vector<pid_t> children;
    for (int p = 0; p < 2; ++p) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Like the app: the whole list of this process's sessions on every save, growing by one each time.
            TranscriptHistoryStore store(file());
            std::vector<TranscriptSession> own = store.load();
            bool failed = false;
            for (int i = 0; i < kSavesPerProcess; ++i) {
                // Forked children share the parent's random generator, so the ids are made distinct here.
                auto next = session(2, 1000.0 * p + i, std::nullopt);
                auto bytes = next.id.bytes();
                bytes[0] = static_cast<std::uint8_t>(p);
                bytes[1] = static_cast<std::uint8_t>(i);
                next.id = Uuid(bytes);
                own.insert(own.begin(), next);
                failed = failed || !store.save(own);
            }
            ::_exit(failed ? 1 : 0);
        }
        children.push_back(child);
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(TranscriptHistoryStore(file()).load().size(), 2u * kSavesPerProcess);
}
