#include "TranscriptionUI/presentation/HistorySearch.h"

#include "TranscriptionUI/presentation/MainThreadHop.h"

#include "support/QtTestApplication.h"

#include <QObject>
#include <QTest>
#include <gtest/gtest.h>

#include <string>

namespace tc {
namespace {

class HistorySearchTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::qtApplication(); }

    static TranscriptSession session(int lines, const std::string& prefix)
    {
        TranscriptSession s{Uuid::random(), {}, 1000, 2000};
        for (int i = 0; i < lines; ++i)
            s.lines.push_back(FinalizedLine{Uuid::random(), prefix + std::to_string(i), 1000.0 + i});
        return s;
    }

    QObject owner;
    std::shared_ptr<MainThreadHop> hop = std::make_shared<MainThreadHop>(&owner);
};

TEST_F(HistorySearchTest, OnlyTheNewestQueryIsAnsweredAndABlankOneEmptiesAtOnce)
{
    HistorySearch search(hop);
    search.replaceAll({session(2000, "あかさたな "), session(2000, "はまやらわ ")});
    std::vector<std::string> answered;
    QObject::connect(&search, &HistorySearch::resultsChanged, [&] {
        for (const auto& s : search.results().sessions)
            for (const auto& line : s.lines)
                answered.push_back(line.text);
    });

    // Typed one after the other before any answer could come back: the first must never show.
    search.setQuery("アカサ");
    search.setQuery("ハマヤ");
    ASSERT_TRUE(QTest::qWaitFor([&] { return search.results().matchedLines == 2000; }, 30000));
    for (const auto& text : answered)
        ASSERT_EQ(text.rfind("はまやらわ", 0), 0u) << text;

    search.setQuery("  ");
    EXPECT_TRUE(search.results().sessions.empty()) << "a blank query needs no worker";
    EXPECT_EQ(search.results().matchedLines, 0u);

    // After closing, queries are accepted but never answered; nothing runs on a closed worker.
    search.close();
    search.setQuery("あかさ");
    EXPECT_EQ(search.query(), "あかさ");
}

} // namespace
} // namespace tc
