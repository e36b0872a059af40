#include "TranscriptionUI/window/SectionWidgets.h"

#include "TranscriptionUI/window/SymbolIcon.h"
#include "TranscriptionUI/window/ViewStyle.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

namespace tc::section {

QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QString colorStyle(const QColor& color)
{
    return QStringLiteral("color: %1;").arg(ViewStyle::css(color));
}

QWidget* iconLabel(const QString& symbol, const QString& text, const QFont& font, const QColor& color, QWidget* parent,
                   QLabel** labelOut)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    auto* icon = new QLabel(row);
    const int side = QFontMetrics(font).height();
    icon->setPixmap(SymbolIcon::fallback(symbol, color).pixmap(side, side));
    icon->setAlignment(Qt::AlignTop);
    auto* label = new QLabel(text, row);
    label->setFont(font);
    label->setStyleSheet(colorStyle(color));
    label->setWordWrap(true);
    layout->addWidget(icon, 0, Qt::AlignTop);
    layout->addWidget(label, 1);
    if (labelOut) *labelOut = label;
    return row;
}

void clearLayout(QLayout* layout)
{
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* widget = item->widget()) widget->deleteLater();
        delete item;
    }
}

QToolButton* borderlessButton(const QString& symbol, const QString& text, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    if (!symbol.isEmpty()) button->setIcon(SymbolIcon::icon(symbol));
    if (!text.isEmpty()) button->setText(text);
    button->setAutoRaise(true);
    button->setToolButtonStyle(symbol.isEmpty() ? Qt::ToolButtonTextOnly : Qt::ToolButtonIconOnly);
    return button;
}

} // namespace tc::section
