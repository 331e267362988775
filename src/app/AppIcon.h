#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>

namespace qv {

// The application's own icon: a white wheel of three segments on a rounded blue square, the
// picture of the desktop entry, the autostart entry and every window.
QImage appIconImage(int pixelSize);
// The same at the sizes installed under the hicolor theme, preferring the installed one.
QIcon appIcon();

// What notifications show beside their text: the installed theme icon's name, else our icon
// written once into the cache folder, else the name all the same.
QString notificationIcon();

// The sizes installed under share/icons/hicolor/<n>x<n>/apps.
inline constexpr int appIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// The tray's icons drawn on a strip of panel of that colour, as the panel would show them: idle,
// running at 40 %, the spinner and paused, each in the foreground the panel's theme may give
// (dark and light), at panelHeight pixels.
QImage trayIconsOnPanel(const QColor& panel, int panelHeight);

} // namespace qv
