#include "TranscriptionInfrastructure/history/HistorySearchIndex.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using namespace tc;

namespace {

FinalizedLine line(std::string text, Date time = 0)
{
    return {Uuid::random(), std::move(text), time};
}

TranscriptSession session(std::vector<FinalizedLine> lines, Date startedAt = 0)
{
    return {Uuid::random(), std::move(lines), startedAt, std::nullopt};
}

std::string matched(const HistorySearchHit& hit, std::size_t index = 0)
{
    const auto range = hit.ranges.at(index);
    return hit.text.substr(range.begin, range.end - range.begin);
}

// Every hit as its line and the characters it marks, in the order listed.
std::vector<std::string> hits(const HistorySearchResults& results)
{
    std::vector<std::string> all;
    for (const auto& session : results.sessions)
        for (const auto& hit : session.lines)
            all.push_back(hit.lineId.toString() + matched(hit));
    return all;
}

} // namespace

TEST(HistorySearchIndex, FindsWidthAndKanaVariantsInEverySessionNewestFirst)
{
    const auto older = session({line("今日はｶﾀｶﾅのＡＰＩを説明します", 110), line("関係ない行", 120)}, 100);
    const auto newer = session({line("かたかなで12個、api", 210), line("カタカナの１２番", 220)}, 200);
    HistorySearchIndex index;
    index.replaceAll({older, newer});
    EXPECT_EQ(index.sessionCount(), 2u);
    EXPECT_EQ(index.lineCount(), 4u);

    const auto results = index.search("カタカナ").value();
    EXPECT_EQ(results.matchedLines, 3u);
    EXPECT_FALSE(results.truncated);
    ASSERT_EQ(results.sessions.size(), 2u);
    EXPECT_EQ(results.sessions[0].sessionId, newer.id);
    EXPECT_EQ(results.sessions[0].startedAt, 200);
    EXPECT_EQ(results.sessions[0].lines.at(0).time, 210);
    // Each hit marks the characters as they were written, not as they were folded.
    EXPECT_EQ(hits(results),
              (std::vector{newer.lines[0].id.toString() + "かたかな", newer.lines[1].id.toString() + "カタカナ",
                           older.lines[0].id.toString() + "ｶﾀｶﾅ"}));
    EXPECT_EQ(results.sessions[1].lines[0].text, older.lines[0].text);
    // The other spellings of a query find the same hits.
    for (const std::string query : {"かたかな", "ｶﾀｶﾅ"})
        EXPECT_EQ(hits(index.search(query).value()), hits(results)) << query;
    EXPECT_EQ(hits(index.search("ＡＰＩ").value()),
              (std::vector{newer.lines[0].id.toString() + "api", older.lines[0].id.toString() + "ＡＰＩ"}));
    EXPECT_EQ(hits(index.search("12").value()),
              (std::vector{newer.lines[0].id.toString() + "12", newer.lines[1].id.toString() + "１２"}));
}

TEST(HistorySearchIndex, BlankOrOverlongQueriesAndLineBoundariesFindNothing)
{
    HistorySearchIndex index;
    index.replaceAll({session({line("資料を確認しますか"), line("なるほど")})});
    // "か" ends one line and "な" starts the next; a match never joins two lines.
    for (const std::string query :
         {"", " ", "\u3000\u3000", "\t\n", "資料を確認しますかなるほど、それでは次の議題に移りましょう", "かな"}) {
        const auto results = index.search(query).value();
        EXPECT_TRUE(results.sessions.empty()) << query;
        EXPECT_EQ(results.matchedLines, 0u);
        EXPECT_FALSE(results.truncated);
    }
    // Blanks around a query are the user's typing, not part of what is sought.
    EXPECT_EQ(matched(index.search("　確認 ").value().sessions.at(0).lines.at(0)), "確認");
}

TEST(HistorySearchIndex, ManyMatchesAreCountedInFullAndListedUpToTheLimit)
{
    std::vector<TranscriptSession> sessions;
    for (int s = 0; s < 3; ++s) {
        sessions.push_back(session({}, s));
        for (int l = 0; l < 400; ++l)
            sessions.back().lines.push_back(line("ｱいアいあ" + std::to_string(l)));
    }
    HistorySearchIndex index;
    index.replaceAll(sessions);

    const auto results = index.search("あ", {}, 500).value();
    EXPECT_EQ(results.matchedLines, 1200u);
    EXPECT_TRUE(results.truncated);
    ASSERT_EQ(results.sessions.size(), 2u);
    EXPECT_EQ(results.sessions[0].sessionId, sessions[2].id);
    EXPECT_EQ(results.sessions[0].lines.size(), 400u);
    EXPECT_EQ(results.sessions[1].lines.size(), 100u);

    // Every match in a line is marked, each on its own characters.
    const auto& hit = results.sessions[0].lines[7];
    ASSERT_EQ(hit.ranges.size(), 3u);
    EXPECT_EQ(matched(hit, 0) + matched(hit, 1) + matched(hit, 2), "ｱアあ");
    EXPECT_EQ(hit.ranges[1], (TextRange{6, 9}));

    // Matches do not overlap.
    index.replaceAll({session({line("あああああ")})});
    const auto pairs = index.search("ああ").value().sessions.at(0).lines.at(0).ranges;
    EXPECT_EQ(pairs, (std::vector<TextRange>{{0, 6}, {6, 12}}));
}

TEST(HistorySearchIndex, FollowsAppendedLinesAndRemovedSessionsAndStopsWhenAsked)
{
    HistorySearchIndex index;
    const auto old = session({line("先週の議事録")}, 10);
    index.replaceAll({old});
    const auto running = Uuid::random();
    const auto first = line("ミーティングを始めます");
    index.appendLine(running, 50, first);
    index.appendLine(running, 50, line("議事録は後で共有します"));
    index.appendLine(old.id, 10, line("追記：議事録の訂正"));
    EXPECT_EQ(index.lineCount(), 4u);

    // Kanji are not folded to their reading.
    EXPECT_TRUE(index.search("ぎじろく").value().sessions.empty());
    auto results = index.search("議事録").value();
    EXPECT_EQ(results.matchedLines, 3u);
    ASSERT_EQ(results.sessions.size(), 2u);
    EXPECT_EQ(results.sessions[0].sessionId, running);
    EXPECT_EQ(results.sessions[1].lines.size(), 2u);
    EXPECT_EQ(hits(index.search("ﾐｰﾃｨﾝｸﾞ").value()), std::vector{first.id.toString() + "ミーティング"});

    index.removeSession(running);
    index.removeSession(Uuid::random());
    EXPECT_EQ(index.search("議事録").value().matchedLines, 2u);
    EXPECT_EQ(index.sessionCount(), 1u);

    std::stop_source stop;
    stop.request_stop();
    EXPECT_FALSE(index.search("議事録", stop.get_token()));
}

TEST(HistorySearchIndex, SearchesWhileLinesAreAppendedSeeAGrowingHistory)
{
    std::vector<TranscriptSession> sessions;
    for (int s = 0; s < 10; ++s) {
        sessions.push_back(session({}, s));
        for (int l = 0; l < 200; ++l)
            sessions.back().lines.push_back(line("ヨサンの確認をします"));
    }
    HistorySearchIndex index;
    index.replaceAll(sessions);

    const auto running = Uuid::random();
    std::jthread appender([&] {
        for (int l = 0; l < 3000; ++l)
            index.appendLine(sessions[static_cast<std::size_t>(l % 10)].id, 0,
                             line("追加のよさん" + std::to_string(l)));
        for (int l = 0; l < 3000; ++l)
            index.appendLine(running, 100, line("ﾖｻﾝの話"));
    });
    std::size_t previous = 0;
    for (int round = 0; round < 100000 && previous < 8000; ++round) {
        const auto matched = index.search("よさん", {}, 10).value().matchedLines;
        ASSERT_GE(matched, previous);
        previous = matched;
    }
    appender.join();
    const auto results = index.search("よさん").value();
    EXPECT_EQ(results.matchedLines, 8000u);
    EXPECT_EQ(results.sessions.at(0).sessionId, running);
}
