#include "TranscriptionDomain/LiveCaptionPresenter.h"
#include "TranscriptionDomain/LiveCaptionPreset.h"

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

TEST(LiveCaptionStyle, FittedFontSizeStaysWithinItsBoundsAndEdgesStandOutFromTheText)
{
    const auto style = LiveCaptionStyle::defaultStyle();
    EXPECT_DOUBLE_EQ(style.fittedFontSize(500), 20);
    EXPECT_DOUBLE_EQ(style.fittedFontSize(300), 18);
    EXPECT_DOUBLE_EQ(style.fittedFontSize(0), 18);
    EXPECT_DOUBLE_EQ(style.fittedFontSize(3000), 96);

    EXPECT_NEAR(LiveCaptionColor::contrastRatio(LiveCaptionColor::black(), LiveCaptionColor::white()), 21.0, 1e-9);
    EXPECT_DOUBLE_EQ(LiveCaptionColor::contrastRatio({0.3, 0.4, 0.5}, {0.3, 0.4, 0.5}), 1.0);

    // An outline in a background colour close to the text would vanish: it turns black or white instead.
    auto paleOnWhite = style;
    paleOnWhite.textColor = {1.0, 1.0, 0.8};
    paleOnWhite.backgroundColor = LiveCaptionColor::white();
    EXPECT_EQ(paleOnWhite.edgeColor(), LiveCaptionColor::black());
    auto darkOnBlack = style;
    darkOnBlack.textColor = {0.1, 0.1, 0.3};
    EXPECT_EQ(darkOnBlack.edgeColor(), LiveCaptionColor::white());
    EXPECT_EQ(style.edgeColor(), LiveCaptionColor::black());

    // Without an edge the volatile text is see-through; with one it is blended into the edge, opaque.
    EXPECT_EQ(style.textInk(false), (LiveCaptionInk{LiveCaptionColor::white(), 1.0}));
    EXPECT_EQ(style.textInk(true), (LiveCaptionInk{LiveCaptionColor::white(), 0.5}));
    auto outlined = style;
    outlined.textEdge = LiveCaptionTextEdge::outline;
    EXPECT_EQ(outlined.textInk(true), (LiveCaptionInk{{0.5, 0.5, 0.5}, 1.0}));
}

// The surroundings of the letters, as they are painted over a black and over a white picture: the box over the
// picture, or the outline where the preset draws one.
TEST(LiveCaptionPresets, EveryPresetKeepsFinalTextReadableAndVolatileTextFainterOverAnyPicture)
{
    auto base = LiveCaptionStyle::defaultStyle();
    base.fontFamily = "Noto Sans CJK JP";
    base.maxLines = 4;
    base.alignment = LiveCaptionAlignment::left;
    EXPECT_EQ(LiveCaptionPresets::all().size(), 4u);

    for (const auto preset : LiveCaptionPresets::all()) {
        SCOPED_TRACE(static_cast<int>(preset));
        const auto style = LiveCaptionPresets::applied(preset, base);
        EXPECT_EQ(style.fontFamily, base.fontFamily) << "a preset sets the look, not the font";
        EXPECT_EQ(style.maxLines, 4);
        EXPECT_EQ(style.alignment, LiveCaptionAlignment::left);
        for (const auto& picture : {LiveCaptionColor::black(), LiveCaptionColor::white()}) {
            const auto surround = style.textEdge == LiveCaptionTextEdge::outline
                                      ? style.edgeColor()
                                      : LiveCaptionColor::over(style.backgroundColor, style.backgroundOpacity, picture);
            const auto paint = [&](bool isVolatile) {
                const auto ink = style.textInk(isVolatile);
                return LiveCaptionColor::over(ink.color, ink.opacity, surround);
            };
            const auto finalText = paint(false);
            const auto volatileText = paint(true);
            // Captions are large text: 4.5 is the stricter of the two web levels for it, 3 the lower one.
            EXPECT_GE(LiveCaptionColor::contrastRatio(finalText, surround), 4.5);
            EXPECT_GE(LiveCaptionColor::contrastRatio(volatileText, surround), 3.0);
            EXPECT_GE(LiveCaptionColor::contrastRatio(finalText, volatileText), 1.5)
                << "the volatile line must look different from the final ones";
            EXPECT_LT(volatileText.relativeLuminance(), finalText.relativeLuminance()) << "fainter, not brighter";
        }
    }
    EXPECT_EQ(LiveCaptionPresets::applied(LiveCaptionPreset::noBackground, base).backgroundOpacity, 0.0);
    EXPECT_EQ(LiveCaptionPresets::applied(LiveCaptionPreset::yellowText, base).textColor,
              (LiveCaptionColor{1.0, 1.0, 0.0}));
}
