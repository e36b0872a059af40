#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

namespace tc {

// The window's named colour and font roles, taken from the palette so light and dark themes both work.
class ViewStyle {
public:
    static QColor primary(const QPalette& palette);
    static QColor secondary(const QPalette& palette);
    static QColor tertiary(const QPalette& palette);
    // The faint fill behind small indicators.
    static QColor quaternary(const QPalette& palette);
    static QColor accent(const QPalette& palette);
    static QColor orange();
    static QColor withOpacity(QColor color, double opacity);

    // Fonts relative to the application font, like the platform's text styles.
    static QFont headline(QFont base);
    static QFont subheadline(QFont base);
    static QFont callout(QFont base);
    static QFont caption(QFont base);
    static QFont caption2(QFont base);
    // Caption size with digits of equal width, for times.
    static QFont monospacedDigitsCaption(QFont base);
    // Style sheet colour text "rgba(r, g, b, a)".
    static QString css(const QColor& color);
};

} // namespace tc
