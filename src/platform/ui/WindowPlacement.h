#pragma once

#include "platform/desktop/ScreenCoordinates.h"
#include "platform/desktop/ScreenProvider.h"

#include <QMargins>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSizeF>

#include <optional>

class QWidget;

namespace qv {

class EditorWindow;

// All in y-up coordinates. The origin (bottom-left corner) nearest to the proposed one that
// keeps a window of that size 12 points inside the visible frame; when it does not fit, its
// right and top edges stay inside.
QPointF clampedOrigin(QPointF proposed, QSizeF size, const QRectF& visibleFrame);

// Where a window of that size goes for a point: centred on it, its top 24 points below it, on
// the screen that holds the point (else the main one). None when there is no screen.
std::optional<QPointF> placedOrigin(QPointF point, QSizeF size, const ScreenProvider& screens);

// The frame a window manager is expected to put around a window not shown yet: what the last
// framed editor window had, else a title bar's height on X11, else nothing. A window already
// framed gives its own.
QMargins expectedFrameMargins(const QWidget* window);
// The window with the frame its window manager put around it, in Qt's coordinates.
QRect framedGeometry(const QWidget* window);
// Remembers what a window manager put around a shown window, for the next placement.
void noteFrameMargins(const QWidget* window);

// Moves the window to its placed origin, or centres it when there is no screen. The whole
// frame, the window manager's title bar included, is kept inside the visible frame.
void placeWindow(QPointF point, QWidget* window,
                 const ScreenProvider& screens = ScreenProvider::system());

// Shows an editor's view in a new EditorWindow placed at the point, its content at least
// 320 x 120; the window is listed in openEditorWindows() and takes the focus.
EditorWindow* presentInEditorWindow(const QString& title, bool resizable,
                                    std::function<void()> onCancel, QWidget* view, QPointF point,
                                    const ScreenProvider& screens = ScreenProvider::system());

} // namespace qv
