#include "TranscriptionDomain/LiveCaptionPresenter.h"

#include <gtest/gtest.h>

using namespace tc;

TEST(LiveCaptionPresenter, NumbersCandidatesStablyAndSkipsBlankText)
{
    const auto content = LiveCaptionPresenter::content({"a", "   ", "b"}, "c", 2);
    EXPECT_EQ(content.lines, (std::vector<LiveCaptionLine>{{1, "b", false}, {2, "c", true}}));

    const auto noVolatile = LiveCaptionPresenter::content({"a", "b", "c"}, "\n", 2);
    EXPECT_EQ(noVolatile.lines, (std::vector<LiveCaptionLine>{{1, "b", false}, {2, "c", false}}));

    EXPECT_EQ(LiveCaptionPresenter::content({}, "x", 2).lines, (std::vector<LiveCaptionLine>{{0, "x", true}}));
    EXPECT_TRUE(LiveCaptionPresenter::content({"a"}, "b", 0).isEmpty());
    EXPECT_TRUE(LiveCaptionPresenter::content({"a"}, "b", -1).isEmpty());
    EXPECT_EQ(LiveCaptionPresenter::lines({" 先頭に空白"}, "", 2), std::vector<std::string>{" 先頭に空白"});
}
