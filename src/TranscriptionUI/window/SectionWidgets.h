#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QFrame;
class QLabel;
class QLayout;
class QToolButton;
class QWidget;

namespace tc::section {

// Small building blocks shared by the window's sections.

// A sunken horizontal line.
QFrame* divider(QWidget* parent);
// A style sheet setting the text colour.
QString colorStyle(const QColor& color);
// An icon followed by a wrapping label, in the given font and colour; labelOut receives the label.
QWidget* iconLabel(const QString& symbol, const QString& text, const QFont& font, const QColor& color, QWidget* parent,
                   QLabel** labelOut = nullptr);
// Deletes every item of the layout (widgets later, from the event loop).
void clearLayout(QLayout* layout);
// A flat tool button showing the symbol, or the text when there is no symbol.
QToolButton* borderlessButton(const QString& symbol, const QString& text, QWidget* parent);

} // namespace tc::section
