#pragma once

#include "platform/ScreenCoordinates.h"
#include "platform/ScreenProvider.h"

#include <QPointF>
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

// Moves the window to its placed origin, or centres it when there is no screen.
void placeWindow(QPointF point, QWidget* window,
                 const ScreenProvider& screens = ScreenProvider::system());

// Shows an editor's view in a new EditorWindow placed at the point, its content at least
// 320 x 120; the window is listed in openEditorWindows() and takes the focus.
EditorWindow* presentInEditorWindow(const QString& title, bool resizable,
                                    std::function<void()> onCancel, QWidget* view, QPointF point,
                                    const ScreenProvider& screens = ScreenProvider::system());

} // namespace qv
