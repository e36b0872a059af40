#pragma once

#include <QIcon>
#include <QString>

namespace tc {

// Icons named by the symbol names the window uses ("mic", "chevron.left", ...): the desktop's icon theme
// when it has a matching icon, otherwise a small icon drawn here so the window never shows a blank button.
class SymbolIcon {
public:
    // The freedesktop icon-theme name used for a symbol; empty for unknown symbols.
    static QString themeName(const QString& symbol);
    // Theme icon or the drawn fallback; never null.
    static QIcon icon(const QString& symbol);
    // Only the drawn fallback, in the given colour.
    static QIcon fallback(const QString& symbol, const QColor& color);
};

} // namespace tc
