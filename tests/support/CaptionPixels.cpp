#include "support/CaptionPixels.h"

#include <QPainter>
#include <cmath>
#include <cstdlib>

namespace tc::test {

QImage renderedOver(QWidget& widget, const QColor& picture)
{
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(picture);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

int pixelsNear(const QImage& image, const QRect& area, const QColor& color, int tolerance)
{
    int count = 0;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const QColor seen = image.pixelColor(x, y);
            if (std::abs(seen.red() - color.red()) <= tolerance &&
                std::abs(seen.green() - color.green()) <= tolerance &&
                std::abs(seen.blue() - color.blue()) <= tolerance)
                ++count;
        }
    return count;
}

ReadBackground backgroundAt(const QImage& overBlack, const QImage& overWhite, QPoint point)
{
    // Over black a paint leaves colour × opacity; over white, that plus (1 − opacity).
    const QColor black = overBlack.pixelColor(point);
    const QColor white = overWhite.pixelColor(point);
    const double opacity =
        1.0 - (white.redF() - black.redF() + white.greenF() - black.greenF() + white.blueF() - black.blueF()) / 3.0;
    ReadBackground read;
    read.opacity = opacity;
    if (opacity > 0.01)
        read.color = QColor::fromRgbF(static_cast<float>(std::min(1.0, black.redF() / opacity)),
                                      static_cast<float>(std::min(1.0, black.greenF() / opacity)),
                                      static_cast<float>(std::min(1.0, black.blueF() / opacity)));
    return read;
}

QColor composited(const QColor& color, double opacity, const QColor& below)
{
    const auto mix = [opacity](double top, double bottom) {
        return static_cast<float>(top * opacity + bottom * (1.0 - opacity));
    };
    return QColor::fromRgbF(mix(color.redF(), below.redF()), mix(color.greenF(), below.greenF()),
                            mix(color.blueF(), below.blueF()));
}

} // namespace tc::test
