#include "TranscriptionUI/window/WaveformView.h"

#include "support/QtTestApplication.h"

#include <gtest/gtest.h>

namespace tc {
namespace {

const QSizeF kCanvas(WaveformView::canvasWidth, WaveformView::canvasHeight);

TEST(WaveformView, BarsGrowWithTheLevelNeverVanishAndTheLastSampleDecidesSilence)
{
    EXPECT_TRUE(WaveformView::barRects({}, kCanvas).empty());
    const auto bars = WaveformView::barRects({-0.5f, 0.0f, 0.25f, 0.9f, 4.0f}, kCanvas);
    ASSERT_EQ(bars.size(), 5u);
    for (std::size_t i = 0; i < bars.size(); ++i) {
        EXPECT_GE(bars[i].height(), 1.0) << "silence still shows a line";
        EXPECT_LE(bars[i].height(), kCanvas.height()) << "a loud level is clipped to the strip";
        EXPECT_DOUBLE_EQ(bars[i].center().y(), kCanvas.height() / 2);
        if (i > 0) {
            EXPECT_GE(bars[i].height(), bars[i - 1].height());
            EXPECT_GT(bars[i].left(), bars[i - 1].right()) << "bars do not touch";
        }
    }
    EXPECT_LT(bars[2].height(), bars[3].height());
    // A full history still gives every sample a visible bar.
    for (const QRectF& bar : WaveformView::barRects(std::vector<float>(60, 0.3f), kCanvas))
        EXPECT_GE(bar.width(), 1.0);

    // Silence is judged by the last sample, a level equal to the threshold counting as sound.
    EXPECT_FALSE(WaveformView::isSilent({0.5f, 0.02f}, 0.02f));
    EXPECT_TRUE(WaveformView::isSilent({0.5f, 0.019f}, 0.02f));
    EXPECT_FALSE(WaveformView::isSilent({0.0f, 0.3f}, 0.02f));
    EXPECT_TRUE(WaveformView::isSilent({}, 0.02f));
    EXPECT_FALSE(WaveformView::isSilent({}, 0.0f));
    EXPECT_FALSE(WaveformView::isSilent({}, -1.0f));
}

TEST(WaveformView, PaintsLoudBarsInTheAccentColourAndNamesTheSourceAndItsState)
{
    test::qtApplication();
    WaveformView view(AudioSourceID::microphone);
    view.resize(view.sizeHint());
    const QColor accent = view.palette().color(QPalette::Highlight);
    const auto accentPixels = [&] {
        const QImage image = view.grab().toImage();
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                count += std::abs(c.red() - accent.red()) + std::abs(c.green() - accent.green()) +
                             std::abs(c.blue() - accent.blue()) <
                         24;
            }
        return count;
    };
    view.setInputs(std::vector<float>(60, 1.0f), true, 0.02f);
    EXPECT_GT(accentPixels(), 0);
    EXPECT_EQ(view.toolTip(), QStringLiteral("マイク: 入力中"));
    EXPECT_EQ(view.accessibleName(), QStringLiteral("マイク 入力レベル波形"));
    view.setInputs(std::vector<float>(60, 1.0f), false, 0.02f);
    EXPECT_EQ(view.toolTip(), QStringLiteral("マイク: 無効"));
    view.setInputs({}, true, 0.02f);
    EXPECT_EQ(view.state(), WaveformView::State::silent);
    EXPECT_EQ(view.toolTip(), QStringLiteral("マイク: 無音"));

    WaveformView system(AudioSourceID::systemAudio);
    system.setInputs({0.02f}, true, 0.02f);
    EXPECT_EQ(system.toolTip(), QStringLiteral("システム音声: 入力中"));
}

} // namespace
} // namespace tc
