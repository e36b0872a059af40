#include "TranscriptionDomain/LiveCaptionPresenter.h"
#include "TranscriptionDomain/LiveCaptionStyle.h"

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

TEST(LiveCaptionStyle, FitsTheFontToTheWidth)
{
    const auto style = LiveCaptionStyle::defaultStyle();
    EXPECT_DOUBLE_EQ(style.fittedFontSize(500), 20);
    EXPECT_DOUBLE_EQ(style.fittedFontSize(300), 18);
    EXPECT_DOUBLE_EQ(style.fittedFontSize(3000), 96);
    EXPECT_DOUBLE_EQ(style.fittedFontSize(0), 18);
}
