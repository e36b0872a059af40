#include "TranscriptionUI/window/WaveformView.h"

#include "support/QtTestApplication.h"

#include <gtest/gtest.h>

namespace tc {
namespace {

TEST(WaveformView, BarsGrowWithTheLevelNeverVanishAndTheLastSampleDecidesSilence)
{
    const QSizeF canvas(WaveformView::canvasWidth, WaveformView::canvasHeight);
    EXPECT_TRUE(WaveformView::barRects({}, canvas).empty());
    const auto bars = WaveformView::barRects({-0.5f, 0.0f, 0.25f, 0.9f, 4.0f}, canvas);
    ASSERT_EQ(bars.size(), 5u);
    for (std::size_t i = 0; i < bars.size(); ++i) {
        EXPECT_GE(bars[i].height(), 1.0) << "silence still shows a line";
        EXPECT_LE(bars[i].height(), canvas.height()) << "a loud level is clipped to the strip";
        EXPECT_DOUBLE_EQ(bars[i].center().y(), canvas.height() / 2);
        if (i == 0) continue;
        EXPECT_GE(bars[i].height(), bars[i - 1].height());
        EXPECT_GT(bars[i].left(), bars[i - 1].right()) << "bars do not touch";
    }
    EXPECT_LT(bars[2].height(), bars[3].height());
    for (const QRectF& bar : WaveformView::barRects(std::vector<float>(60, 0.3f), canvas))
        EXPECT_GE(bar.width(), 1.0) << "a full history still gives every sample a visible bar";

    // A level equal to the threshold counts as sound.
    EXPECT_FALSE(WaveformView::isSilent({0.5f, 0.02f}, 0.02f));
    EXPECT_TRUE(WaveformView::isSilent({0.5f, 0.019f}, 0.02f));
    EXPECT_FALSE(WaveformView::isSilent({0.0f, 0.3f}, 0.02f));
    EXPECT_TRUE(WaveformView::isSilent({}, 0.02f));
    EXPECT_FALSE(WaveformView::isSilent({}, 0.0f));
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
                const int distance = std::abs(c.red() - accent.red()) + std::abs(c.green() - accent.green());
                count += distance + std::abs(c.blue() - accent.blue()) < 24;
            }
        return count;
    };
    view.setInputs(std::vector<float>(60, 1.0f), true, 0.02f);
    EXPECT_GT(accentPixels(), 0);
    EXPECT_EQ(view.accessibleName(), QStringLiteral("マイク 入力レベル波形"));
    const struct {
        std::vector<float> levels;
        bool active;
        const char* tip;
    } states[] = {{{1.0f}, true, "マイク: 入力中"}, {{1.0f}, false, "マイク: 無効"}, {{}, true, "マイク: 無音"}};
    for (const auto& s : states) {
        view.setInputs(s.levels, s.active, 0.02f);
        EXPECT_EQ(view.toolTip(), QString::fromUtf8(s.tip));
    }
    WaveformView system(AudioSourceID::systemAudio);
    system.setInputs({0.02f}, true, 0.02f);
    EXPECT_EQ(system.toolTip(), QStringLiteral("システム音声: 入力中"));
}

} // namespace
} // namespace tc
