#include "TranscriptionDomain/ConversationCitationReconciler.h"
#include "TranscriptionDomain/ConversationQuestionContext.h"
#include "TranscriptionDomain/ConversationState.h"
#include "support/ConversationSamples.h"

#include <gtest/gtest.h>

using namespace tc;

namespace {

std::vector<FinalizedLine> makeLines(const std::vector<std::string>& texts)
{
    return test::excerptOf(texts).lines();
}

std::vector<Utterance> utterances(const std::vector<std::string>& texts)
{
    std::vector<Utterance> out;
    for (const auto& text : texts)
        out.push_back({Uuid::random(), text, 0, 0});
    return out;
}

} // namespace

TEST(ConversationQuestionContext, KeepsTheLastNonBlankLinesWhole)
{
    auto lines = makeLines({"1", "2", "  ", "3", "\u3000\n", "4", "5", "6", "7", "8", "9", " 10 "});
    const auto excerpt = ConversationQuestionContext::excerpt(lines, 3);
    ASSERT_EQ(excerpt.lines().size(), 3u);
    EXPECT_EQ(excerpt.lines()[0], lines[9]);
    EXPECT_EQ(excerpt.lines()[2].text, " 10 ");
    EXPECT_TRUE(ConversationQuestionContext::excerpt(lines, 0).isEmpty());
    EXPECT_TRUE(ConversationQuestionContext::excerpt(lines, -4).isEmpty());
    EXPECT_EQ(ConversationQuestionContext::excerpt(lines, 100).lines().size(), 10u);
}

TEST(ConversationCitationReconciler, ResolvesInCitationOrderWithoutRepeats)
{
    const auto lines = makeLines({"a", "b", "c"});
    const ConversationExcerpt excerpt(lines);
    EXPECT_EQ(ConversationCitationReconciler::resolveIDs({2, 2, 9}, excerpt), std::vector<Uuid>{lines[1].id});
    EXPECT_EQ(ConversationCitationReconciler::resolveIDs({3, 1}, excerpt),
              (std::vector<Uuid>{lines[2].id, lines[0].id}));
    EXPECT_TRUE(ConversationCitationReconciler::resolveIDs({0, -1}, excerpt).empty());
    EXPECT_EQ(ConversationCitationReconciler::keepingExisting({lines[1].id, Uuid::random(), lines[1].id}, lines),
              std::vector<Uuid>{lines[1].id});
}

TEST(ConversationState, RetainsTheMostRecentUtterances)
{
    ConversationState state({}, "途中", 3);
    for (const auto& utterance : utterances({"一", "二", "三", "四"}))
        state.appendFinalized(utterance);
    ASSERT_EQ(state.finalized.size(), 3u);
    EXPECT_EQ(state.finalized.front().text, "二");
    EXPECT_EQ(state.volatileText, "途中");

    ConversationState unlimited({}, "", 0);
    for (const auto& utterance : utterances(std::vector<std::string>(10, "x")))
        unlimited.appendFinalized(utterance);
    EXPECT_EQ(unlimited.finalized.size(), 10u);

    ConversationState trimmed(utterances({"1", "2", "3", "4", "5"}), "", 2);
    ASSERT_EQ(trimmed.finalized.size(), 2u);
    EXPECT_EQ(trimmed.finalized[0].text, "4");
    EXPECT_EQ(ConversationState(utterances({"a", "", "b"}), "", -1).finalizedText(), "a  b");
}
