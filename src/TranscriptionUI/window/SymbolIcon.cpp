#include "TranscriptionUI/window/SymbolIcon.h"

#include <QApplication>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>

namespace tc {

namespace {

const QHash<QString, QString>& themeNames()
{
    static const QHash<QString, QString> names{
        {"mic", "audio-input-microphone"},
        {"mic.fill", "audio-input-microphone"},
        {"speaker.wave.2", "audio-volume-high"},
        {"speaker.wave.2.fill", "audio-volume-high"},
        {"lock", "changes-prevent"},
        {"gearshape", "preferences-system"},
        {"textformat.size.smaller", "zoom-out"},
        {"textformat.size.larger", "zoom-in"},
        {"info.circle", "dialog-information"},
        {"calendar", "x-office-calendar"},
        {"calendar.badge.plus", "appointment-new"},
        {"calendar.badge.exclamationmark", "dialog-warning"},
        {"arrow.down", "go-bottom"},
        {"sparkles", "tools-check-spelling"},
        {"chevron.left", "go-previous"},
        {"chevron.right", "go-next"},
        {"text.bubble", "mail-message"},
        {"sidebar.right", "view-right-pane"},
        {"xmark.circle.fill", "window-close"},
    };
    return names;
}

// Each symbol drawn on a 16 x 16 grid with the pen set; symbol is the full name, for its variants.
using Drawing = void (*)(QPainter& p, const QString& symbol, const QColor& color);

QBrush fillFor(const QString& symbol, const QColor& color)
{
    return symbol.endsWith(".fill") ? QBrush(color) : QBrush();
}

void drawMicrophone(QPainter& p, const QString& symbol, const QColor& color)
{
    p.setBrush(fillFor(symbol, color));
    p.drawRoundedRect(QRectF(5.5, 1.5, 5, 8.5), 2.5, 2.5);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(3, 4, 10, 9), 180 * 16, 180 * 16);
    p.drawLine(QPointF(8, 13), QPointF(8, 15));
}

void drawSpeaker(QPainter& p, const QString& symbol, const QColor& color)
{
    QPainterPath body;
    body.moveTo(1.5, 6);
    body.lineTo(4.5, 6);
    body.lineTo(8, 2.5);
    body.lineTo(8, 13.5);
    body.lineTo(4.5, 10);
    body.lineTo(1.5, 10);
    body.closeSubpath();
    p.setBrush(fillFor(symbol, color));
    p.drawPath(body);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(6, 5, 5, 6), -60 * 16, 120 * 16);
    p.drawArc(QRectF(5, 2.5, 9, 11), -60 * 16, 120 * 16);
}

void drawLock(QPainter& p, const QString&, const QColor& color)
{
    p.drawArc(QRectF(4.5, 1.5, 7, 8), 0, 180 * 16);
    p.drawLine(QPointF(4.5, 5.5), QPointF(4.5, 7));
    p.drawLine(QPointF(11.5, 5.5), QPointF(11.5, 7));
    p.setBrush(color);
    p.drawRoundedRect(QRectF(3, 7, 10, 7.5), 1.5, 1.5);
}

void drawGear(QPainter& p, const QString&, const QColor&)
{
    p.drawEllipse(QPointF(8, 8), 4.5, 4.5);
    p.drawEllipse(QPointF(8, 8), 1.8, 1.8);
    for (int i = 0; i < 8; ++i) {
        p.save();
        p.translate(8, 8);
        p.rotate(45.0 * i);
        p.drawLine(QPointF(0, -4.5), QPointF(0, -7));
        p.restore();
    }
}

void drawTextSize(QPainter& p, const QString& symbol, const QColor&)
{
    QFont font = QApplication::font();
    font.setPixelSize(symbol.endsWith("smaller") ? 9 : 14);
    font.setBold(true);
    p.setFont(font);
    p.drawText(QRectF(0, 0, 16, 16), Qt::AlignCenter, "A");
    p.drawLine(QPointF(11.5, 3), QPointF(15, 3));
    if (symbol.endsWith("larger")) p.drawLine(QPointF(13.25, 1.25), QPointF(13.25, 4.75));
}

void drawInfo(QPainter& p, const QString&, const QColor& color)
{
    p.drawEllipse(QPointF(8, 8), 6.5, 6.5);
    p.drawLine(QPointF(8, 7), QPointF(8, 11.5));
    p.setBrush(color);
    p.drawEllipse(QPointF(8, 4.6), 0.6, 0.6);
}

void drawCalendar(QPainter& p, const QString& symbol, const QColor&)
{
    p.drawRoundedRect(QRectF(1.5, 2.5, 13, 12), 2, 2);
    p.drawLine(QPointF(1.5, 6), QPointF(14.5, 6));
    p.drawLine(QPointF(5, 1), QPointF(5, 3.5));
    p.drawLine(QPointF(11, 1), QPointF(11, 3.5));
    if (symbol.endsWith("plus")) {
        p.drawLine(QPointF(8, 7.5), QPointF(8, 13));
        p.drawLine(QPointF(5.25, 10.25), QPointF(10.75, 10.25));
    } else if (symbol.endsWith("exclamationmark")) {
        p.drawLine(QPointF(8, 7.5), QPointF(8, 11));
        p.drawPoint(QPointF(8, 13));
    }
}

void drawArrowDown(QPainter& p, const QString&, const QColor&)
{
    p.drawLine(QPointF(8, 2), QPointF(8, 14));
    p.drawLine(QPointF(3.5, 9.5), QPointF(8, 14));
    p.drawLine(QPointF(12.5, 9.5), QPointF(8, 14));
}

void drawSparkles(QPainter& p, const QString&, const QColor& color)
{
    QPainterPath star;
    star.moveTo(7, 1);
    star.quadTo(7, 7, 13, 7.5);
    star.quadTo(7, 8, 7, 14);
    star.quadTo(7, 8, 1, 7.5);
    star.quadTo(7, 7, 7, 1);
    p.setBrush(color);
    p.drawPath(star);
    p.drawLine(QPointF(13, 1.5), QPointF(13, 4.5));
    p.drawLine(QPointF(11.5, 3), QPointF(14.5, 3));
}

void drawChevronLeft(QPainter& p, const QString&, const QColor&)
{
    p.drawPolyline(QPolygonF({QPointF(10, 2.5), QPointF(5, 8), QPointF(10, 13.5)}));
}

void drawChevronRight(QPainter& p, const QString&, const QColor&)
{
    p.drawPolyline(QPolygonF({QPointF(6, 2.5), QPointF(11, 8), QPointF(6, 13.5)}));
}

void drawTextBubble(QPainter& p, const QString&, const QColor&)
{
    QPainterPath bubble;
    bubble.addRoundedRect(QRectF(1.5, 2, 13, 9.5), 2.5, 2.5);
    bubble.moveTo(4.5, 11.5);
    bubble.lineTo(3.5, 14.5);
    bubble.lineTo(7.5, 11.5);
    p.drawPath(bubble);
    p.drawLine(QPointF(4.5, 5.5), QPointF(11.5, 5.5));
    p.drawLine(QPointF(4.5, 8), QPointF(9.5, 8));
}

void drawSidebar(QPainter& p, const QString&, const QColor&)
{
    p.drawRoundedRect(QRectF(1.5, 2.5, 13, 11), 2, 2);
    p.drawLine(QPointF(10, 2.5), QPointF(10, 13.5));
}

void drawCloseMark(QPainter& p, const QString&, const QColor& color)
{
    p.setBrush(color);
    p.drawEllipse(QPointF(8, 8), 7, 7);
    p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(5.5, 5.5), QPointF(10.5, 10.5));
    p.drawLine(QPointF(10.5, 5.5), QPointF(5.5, 10.5));
}

void drawUnknown(QPainter& p, const QString&, const QColor&)
{
    p.drawEllipse(QPointF(8, 8), 5, 5);
}

struct SymbolDrawing {
    const char* name;
    // The name starts a family ("mic", "mic.fill") rather than naming one symbol.
    bool family;
    Drawing draw;
};

// The first entry that matches draws the symbol.
constexpr SymbolDrawing kDrawings[] = {
    {"mic", true, drawMicrophone},
    {"speaker", true, drawSpeaker},
    {"lock", false, drawLock},
    {"gearshape", false, drawGear},
    {"textformat.size", true, drawTextSize},
    {"info.circle", false, drawInfo},
    {"calendar", true, drawCalendar},
    {"arrow.down", false, drawArrowDown},
    {"sparkles", false, drawSparkles},
    {"chevron.left", false, drawChevronLeft},
    {"chevron.right", false, drawChevronRight},
    {"text.bubble", false, drawTextBubble},
    {"sidebar.right", false, drawSidebar},
    {"xmark.circle.fill", false, drawCloseMark},
};

Drawing drawingFor(const QString& symbol)
{
    for (const auto& drawing : kDrawings) {
        const QLatin1String name(drawing.name);
        if (drawing.family ? symbol.startsWith(name) : symbol == name) return drawing.draw;
    }
    return drawUnknown;
}

void drawSymbol(QPainter& p, const QString& symbol, const QColor& color)
{
    QPen pen(color, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    drawingFor(symbol)(p, symbol, color);
}

QPixmap drawnPixmap(const QString& symbol, const QColor& color, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 16.0, size / 16.0);
    drawSymbol(p, symbol, color);
    return pixmap;
}

} // namespace

QString SymbolIcon::themeName(const QString& symbol)
{
    return themeNames().value(symbol);
}

QIcon SymbolIcon::fallback(const QString& symbol, const QColor& color)
{
    QIcon icon;
    for (int size : {16, 24, 32, 48})
        icon.addPixmap(drawnPixmap(symbol, color, size));
    return icon;
}

QIcon SymbolIcon::icon(const QString& symbol)
{
    const QColor color = QApplication::palette().color(QPalette::WindowText);
    const QString name = themeName(symbol);
    if (!name.isEmpty() && QIcon::hasThemeIcon(name)) return QIcon::fromTheme(name);
    return fallback(symbol, color);
}

} // namespace tc
