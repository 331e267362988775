#pragma once

#include <QColor>
#include <QIcon>
#include <QRectF>
#include <QString>
#include <QStringList>

class QPainter;

namespace qv {

// Every symbol name the program shows, in the table's order.
QStringList symbolNames();

// The freedesktop icon-theme name standing for a symbol; empty for a name the table lacks.
QString themeIconName(const QString& symbol);

// The theme's icon for the symbol, else the program's own drawing of it. Never null: a name
// the table lacks gets a plain round mark.
QIcon symbolIcon(const QString& symbol);

// A one-colour icon of the symbol, for painting over in a colour of one's own: the theme's
// symbolic icon, else its plain one when that is drawn in one colour, else the program's own
// drawing. A full-colour icon would show as a blot of its outline.
QIcon oneColourSymbolIcon(const QString& symbol);

// The program's own glyph of the symbol in that colour, and faded for a disabled control: for
// buttons whose theme icon would read as disabled (the styles' grey transport icons).
QIcon tintedSymbolIcon(const QString& symbol, const QColor& color);

// Draws the program's own glyph of the symbol, in one colour, centred in the box.
void paintSymbol(QPainter& painter, const QString& symbol, const QRectF& box, const QColor& color);

} // namespace qv
