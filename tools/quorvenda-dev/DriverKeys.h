#pragma once

#include <QString>
#include <Qt>

class QWidget;

namespace qv::dev {

// Keys pressed on a widget as a user's would arrive: the modifiers go down first, and a window's
// shortcuts see the key before the widget does.
void keyClick(QWidget* widget, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
// Each character typed in turn.
void keyClicks(QWidget* widget, const QString& text);

} // namespace qv::dev
