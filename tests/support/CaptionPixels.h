#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QWidget>

namespace tc::test {

// The widget as it paints itself over a picture of one colour, the way a translucent window is seen on screen.
QImage renderedOver(QWidget& widget, const QColor& picture);
// How many pixels inside the rectangle are within `tolerance` (per 8-bit component) of the colour.
int pixelsNear(const QImage& image, const QRect& area, const QColor& color, int tolerance = 6);
// The background's colour and opacity, worked out from one point of the box rendered over black and over white.
struct ReadBackground {
    QColor color;
    double opacity = 0;
};
ReadBackground backgroundAt(const QImage& overBlack, const QImage& overWhite, QPoint point);
// The colour a seen-through paint of `color` at `opacity` gives over `below`.
QColor composited(const QColor& color, double opacity, const QColor& below);

} // namespace tc::test
