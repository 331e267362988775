#pragma once

#include <QString>

class QWidget;

namespace qv {

// Gives the window exactly this title on X11. Qt adds " — Quorvenda" to every title that does
// not end in the application's name; the settings window is called "Quorvenda Settings".
// Nothing happens off X11.
void setExactWindowTitle(QWidget* window, const QString& title);

} // namespace qv
