#include "TranscriptionUI/WaveformView.h"

#include "support/QtTestApplication.h"

#include <gtest/gtest.h>

namespace tc {
namespace {

const QSizeF kCanvas(WaveformView::canvasWidth, WaveformView::canvasHeight);

TEST(WaveformView, OneSampleFillsTheWholeCanvasWidth)
{
    const auto bars = WaveformView::barRects({1.0f}, kCanvas);
    ASSERT_EQ(bars.size(), 1u);
    EXPECT_DOUBLE_EQ(bars[0].x(), 0.0);
    EXPECT_DOUBLE_EQ(bars[0].width(), 90.0);
    EXPECT_DOUBLE_EQ(bars[0].height(), 18.0);
}

TEST(WaveformView, BarsAreSeparatedByOnePointGaps)
{
    const auto bars = WaveformView::barRects({0.1f, 0.2f, 0.3f}, kCanvas);
    ASSERT_EQ(bars.size(), 3u);
    const double width = (90.0 - 2.0) / 3.0;
    for (std::size_t i = 0; i < bars.size(); ++i) {
        EXPECT_DOUBLE_EQ(bars[i].width(), width);
        EXPECT_DOUBLE_EQ(bars[i].x(), (width + 1.0) * static_cast<double>(i));
    }
}

TEST(WaveformView, FortySixOrMoreSamplesAreOnePointWideAndRunPastTheCanvas)
{
    for (std::size_t n : {46u, 60u}) {
        const auto bars = WaveformView::barRects(std::vector<float>(n, 0.3f), kCanvas);
        ASSERT_EQ(bars.size(), n);
        for (const QRectF& bar : bars)
            EXPECT_DOUBLE_EQ(bar.width(), 1.0);
        EXPECT_DOUBLE_EQ(bars.back().right(), 2.0 * static_cast<double>(n) - 1.0);
    }
    // 45 samples still get more than one point each.
    EXPECT_GT(WaveformView::barRects(std::vector<float>(45, 0.3f), kCanvas)[0].width(), 1.0);
}

TEST(WaveformView, BarHeightsFollowTheSquareRootClippedAndNeverVanish)
{
    const auto bars = WaveformView::barRects({-0.5f, 0.0f, 0.25f, 1.0f / 1.96f, 0.9f}, kCanvas);
    // Negative and zero levels draw the 1-point minimum, centred on the mid-line.
    EXPECT_DOUBLE_EQ(bars[0].height(), 1.0);
    EXPECT_DOUBLE_EQ(bars[0].center().y(), 9.0);
    EXPECT_DOUBLE_EQ(bars[1].height(), 1.0);
    // sqrt(0.25) * 1.4 = 0.7 of the full height.
    EXPECT_NEAR(bars[2].height(), 18.0 * 0.7, 1e-9);
    EXPECT_DOUBLE_EQ(bars[2].center().y(), 9.0);
    EXPECT_NEAR(bars[3].height(), 18.0, 1e-5);
    EXPECT_DOUBLE_EQ(bars[4].height(), 18.0);
    EXPECT_DOUBLE_EQ(bars[4].top(), 0.0);
}

TEST(WaveformView, NoSamplesDrawNothing)
{
    EXPECT_TRUE(WaveformView::barRects({}, kCanvas).empty());
}

TEST(WaveformView, SilenceIsJudgedByTheLastSampleWithEqualityCountingAsSound)
{
    EXPECT_FALSE(WaveformView::isSilent({0.5f, 0.02f}, 0.02f));
    EXPECT_TRUE(WaveformView::isSilent({0.5f, 0.019f}, 0.02f));
    EXPECT_FALSE(WaveformView::isSilent({0.0f, 0.3f}, 0.02f));
    EXPECT_TRUE(WaveformView::isSilent({}, 0.02f));
    EXPECT_FALSE(WaveformView::isSilent({}, 0.0f));
    EXPECT_FALSE(WaveformView::isSilent({}, -1.0f));
}

TEST(WaveformView, TooltipAndAccessibilityLabelNameTheSourceAndItsState)
{
    test::qtApplication();
    WaveformView microphone(AudioSourceID::microphone);
    microphone.setInputs({}, true, 0.02f);
    EXPECT_EQ(microphone.state(), WaveformView::State::silent);
    EXPECT_EQ(microphone.toolTip(), QStringLiteral("マイク: 無音"));
    EXPECT_EQ(microphone.accessibleName(), QStringLiteral("マイク 入力レベル波形"));

    microphone.setInputs({0.0f, 0.4f}, true, 0.02f);
    EXPECT_EQ(microphone.toolTip(), QStringLiteral("マイク: 入力中"));
    microphone.setInputs({0.4f}, false, 0.02f);
    EXPECT_EQ(microphone.toolTip(), QStringLiteral("マイク: 無効"));

    WaveformView system(AudioSourceID::systemAudio);
    system.setInputs({0.02f}, true, 0.02f);
    EXPECT_EQ(system.toolTip(), QStringLiteral("システム音声: 入力中"));
    EXPECT_EQ(system.accessibleName(), QStringLiteral("システム音声 入力レベル波形"));
}

TEST(WaveformView, PaintsItsBarsInTheAccentColourInsideTheCanvas)
{
    test::qtApplication();
    WaveformView view(AudioSourceID::microphone);
    view.setInputs({1.0f}, true, 0.02f);
    view.resize(view.sizeHint());
    const QImage image = view.grab().toImage();
    const QColor accent = view.palette().color(QPalette::Highlight);
    // The middle of a full-width, full-height bar.
    const int x = view.width() - 45;
    const QColor middle = image.pixelColor(x * image.width() / view.width(), image.height() / 2);
    EXPECT_NEAR(middle.red(), accent.red(), 8);
    EXPECT_NEAR(middle.green(), accent.green(), 8);
    EXPECT_NEAR(middle.blue(), accent.blue(), 8);
}

} // namespace
} // namespace tc
