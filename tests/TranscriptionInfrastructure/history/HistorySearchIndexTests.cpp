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
    const auto older = TranscriptSession{
        Uuid::random(), {line("今日はｶﾀｶﾅのＡＰＩを説明します", 110), line("関係ない行", 120)}, 100, 130};
    const auto newer =
        TranscriptSession{Uuid::random(), {line("かたかなで12個、api", 210), line("カタカナの１２番", 220)}, 200, 230};
    HistorySearchIndex index;
    index.replaceAll({older, newer});
    EXPECT_EQ(index.sessionCount(), 2u);
    EXPECT_EQ(index.lineCount(), 4u);

    const auto results = index.search("カタカナ");
    ASSERT_TRUE(results);
    EXPECT_EQ(results->matchedLines, 3u);
    EXPECT_FALSE(results->truncated);
    ASSERT_EQ(results->sessions.size(), 2u);
    EXPECT_EQ(results->sessions[0].sessionId, newer.id);
    EXPECT_EQ(results->sessions[0].startedAt, 200);
    ASSERT_EQ(results->sessions[0].lines.size(), 2u);
    EXPECT_EQ(results->sessions[0].lines[0].lineId, newer.lines[0].id);
    EXPECT_EQ(results->sessions[0].lines[0].time, 210);
    // Each hit marks the characters as they were written, not as they were folded.
    EXPECT_EQ(matched(results->sessions[0].lines[0]), "かたかな");
    EXPECT_EQ(matched(results->sessions[0].lines[1]), "カタカナ");
    EXPECT_EQ(results->sessions[1].sessionId, older.id);
    ASSERT_EQ(results->sessions[1].lines.size(), 1u);
    EXPECT_EQ(results->sessions[1].lines[0].text, older.lines[0].text);
    EXPECT_EQ(matched(results->sessions[1].lines[0]), "ｶﾀｶﾅ");

    // The other spellings of a query find the same hits.
    for (const std::string query : {"かたかな", "ｶﾀｶﾅ"}) {
        const auto same = index.search(query);
        ASSERT_TRUE(same);
        EXPECT_EQ(hits(*same), hits(*results)) << query;
    }
    const auto latin = index.search("ＡＰＩ");
    ASSERT_TRUE(latin);
    ASSERT_EQ(latin->sessions.size(), 2u);
    EXPECT_EQ(matched(latin->sessions[0].lines.at(0)), "api");
    EXPECT_EQ(matched(latin->sessions[1].lines.at(0)), "ＡＰＩ");
    const auto digits = index.search("12");
    ASSERT_TRUE(digits);
    ASSERT_EQ(digits->sessions.size(), 1u);
    ASSERT_EQ(digits->sessions[0].lines.size(), 2u);
    EXPECT_EQ(matched(digits->sessions[0].lines[1]), "１２");
}

TEST(HistorySearchIndex, BlankOrOverlongQueriesAndLineBoundariesFindNothing)
{
    HistorySearchIndex index;
    index.replaceAll({TranscriptSession{Uuid::random(), {line("資料を確認しますか"), line("なるほど")}, 1, 2}});

    for (const std::string query : {"", " ", "\u3000\u3000", "\t\n"}) {
        const auto results = index.search(query);
        ASSERT_TRUE(results);
        EXPECT_TRUE(results->sessions.empty());
        EXPECT_EQ(results->matchedLines, 0u);
        EXPECT_FALSE(results->truncated);
    }

    const auto overlong = index.search("資料を確認しますかなるほど、それでは次の議題に移りましょう");
    ASSERT_TRUE(overlong);
    EXPECT_TRUE(overlong->sessions.empty());

    // "か" ends one line and "な" starts the next; a match never joins two lines.
    const auto across = index.search("かな");
    ASSERT_TRUE(across);
    EXPECT_TRUE(across->sessions.empty());

    // Blanks around a query are the user's typing, not part of what is sought.
    const auto padded = index.search("　確認 ");
    ASSERT_TRUE(padded);
    ASSERT_EQ(padded->sessions.size(), 1u);
    EXPECT_EQ(matched(padded->sessions[0].lines.at(0)), "確認");
}

TEST(HistorySearchIndex, ManyMatchesAreCountedInFullAndListedUpToTheLimit)
{
    HistorySearchIndex index;
    std::vector<TranscriptSession> sessions;
    for (int s = 0; s < 3; ++s) {
        TranscriptSession session{Uuid::random(), {}, static_cast<Date>(s), std::nullopt};
        for (int l = 0; l < 400; ++l)
            session.lines.push_back(line("ｱいアいあ" + std::to_string(l)));
        sessions.push_back(session);
    }
    index.replaceAll(sessions);

    const auto results = index.search("あ", {}, 500);
    ASSERT_TRUE(results);
    EXPECT_EQ(results->matchedLines, 1200u);
    EXPECT_TRUE(results->truncated);
    std::size_t listed = 0;
    for (const auto& session : results->sessions)
        listed += session.lines.size();
    EXPECT_EQ(listed, 500u);
    ASSERT_EQ(results->sessions.size(), 2u);
    EXPECT_EQ(results->sessions[0].sessionId, sessions[2].id);
    EXPECT_EQ(results->sessions[0].lines.size(), 400u);
    EXPECT_EQ(results->sessions[1].lines.size(), 100u);

    // Every match in a line is marked, each on its own characters.
    const auto& hit = results->sessions[0].lines[7];
    ASSERT_EQ(hit.ranges.size(), 3u);
    EXPECT_EQ(matched(hit, 0), "ｱ");
    EXPECT_EQ(matched(hit, 1), "ア");
    EXPECT_EQ(matched(hit, 2), "あ");
    EXPECT_EQ(hit.ranges[1], (TextRange{6, 9}));

    // Matches do not overlap.
    HistorySearchIndex repeated;
    repeated.replaceAll({TranscriptSession{Uuid::random(), {line("あああああ")}, 0, 1}});
    const auto pairs = repeated.search("ああ");
    ASSERT_TRUE(pairs);
    ASSERT_EQ(pairs->sessions.at(0).lines.at(0).ranges.size(), 2u);
    EXPECT_EQ(pairs->sessions[0].lines[0].ranges[1], (TextRange{6, 12}));
}

TEST(HistorySearchIndex, FollowsAppendedLinesAndRemovedSessionsAndStopsWhenAsked)
{
    HistorySearchIndex index;
    const auto old = TranscriptSession{Uuid::random(), {line("先週の議事録")}, 10, 20};
    index.replaceAll({old});

    const auto running = Uuid::random();
    const auto first = line("ミーティングを始めます");
    index.appendLine(running, 50, first);
    index.appendLine(running, 50, line("議事録は後で共有します"));
    index.appendLine(old.id, 10, line("追記：議事録の訂正"));
    EXPECT_EQ(index.lineCount(), 4u);

    auto results = index.search("ぎじろく");
    ASSERT_TRUE(results);
    EXPECT_TRUE(results->sessions.empty());
    results = index.search("議事録");
    ASSERT_TRUE(results);
    EXPECT_EQ(results->matchedLines, 3u);
    ASSERT_EQ(results->sessions.size(), 2u);
    EXPECT_EQ(results->sessions[0].sessionId, running);
    EXPECT_EQ(results->sessions[1].lines.size(), 2u);

    results = index.search("ﾐｰﾃｨﾝｸﾞ");
    ASSERT_TRUE(results);
    ASSERT_EQ(results->sessions.size(), 1u);
    EXPECT_EQ(results->sessions[0].lines.at(0).lineId, first.id);
    EXPECT_EQ(matched(results->sessions[0].lines[0]), "ミーティング");

    index.removeSession(running);
    index.removeSession(Uuid::random());
    results = index.search("議事録");
    ASSERT_TRUE(results);
    EXPECT_EQ(results->matchedLines, 2u);
    EXPECT_EQ(index.sessionCount(), 1u);

    std::stop_source stop;
    stop.request_stop();
    EXPECT_FALSE(index.search("議事録", stop.get_token()));
}

TEST(HistorySearchIndex, SearchesWhileLinesAreAppendedSeeAGrowingHistory)
{
    HistorySearchIndex index;
    std::vector<TranscriptSession> sessions;
    for (int s = 0; s < 10; ++s) {
        TranscriptSession session{Uuid::random(), {}, static_cast<Date>(s), std::nullopt};
        for (int l = 0; l < 200; ++l)
            session.lines.push_back(line("ヨサンの確認をします"));
        sessions.push_back(std::move(session));
    }
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
    bool grew = true;
    for (int round = 0; round < 100000 && previous < 8000; ++round) {
        const auto results = index.search("よさん", {}, 10);
        ASSERT_TRUE(results);
        grew = grew && results->matchedLines >= previous;
        previous = results->matchedLines;
    }
    appender.join();
    EXPECT_TRUE(grew);
    const auto results = index.search("よさん");
    ASSERT_TRUE(results);
    EXPECT_EQ(results->matchedLines, 8000u);
    EXPECT_EQ(results->sessions.at(0).sessionId, running);
}
