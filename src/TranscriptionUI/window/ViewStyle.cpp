#include "TranscriptionUI/window/ViewStyle.h"

#include <QFontDatabase>

namespace tc {

namespace {
// Sizes in logical pixels, so they match the transcript's own point sizes.
QFont sized(QFont font, int pixels)
{
    font.setPixelSize(pixels);
    return font;
}
} // namespace

QColor ViewStyle::primary(const QPalette& palette)
{
    return palette.color(QPalette::WindowText);
}

QColor ViewStyle::secondary(const QPalette& palette)
{
    return withOpacity(primary(palette), 0.55);
}

QColor ViewStyle::tertiary(const QPalette& palette)
{
    return withOpacity(primary(palette), 0.3);
}

QColor ViewStyle::quaternary(const QPalette& palette)
{
    return withOpacity(primary(palette), 0.1);
}

QColor ViewStyle::accent(const QPalette& palette)
{
    return palette.color(QPalette::Highlight);
}

QColor ViewStyle::orange()
{
    return {255, 149, 0};
}

QColor ViewStyle::withOpacity(QColor color, double opacity)
{
    color.setAlphaF(static_cast<float>(color.alphaF() * opacity));
    return color;
}

QFont ViewStyle::headline(QFont base)
{
    base = sized(base, 14);
    base.setWeight(QFont::DemiBold);
    return base;
}

QFont ViewStyle::subheadline(QFont base)
{
    return sized(base, 12);
}

QFont ViewStyle::callout(QFont base)
{
    return sized(base, 13);
}

QFont ViewStyle::caption(QFont base)
{
    return sized(base, 11);
}

QFont ViewStyle::caption2(QFont base)
{
    return sized(base, 10);
}

QFont ViewStyle::monospacedDigitsCaption(QFont base)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(caption(base).pixelSize());
    return font;
}

QString ViewStyle::css(const QColor& color)
{
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(color.alpha());
}

} // namespace tc
