#include "platform/ui/EditorWindow.h"

#include "platform/ui/WindowPlacement.h"
#include "platform/ScreenProvider.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>

namespace qv {

EditorWindow::EditorWindow(bool resizable, QWidget* parent) : KeyPanel(parent), m_resizable(resizable)
{
    setAttribute(Qt::WA_DeleteOnClose);
}

EditorWindow::~EditorWindow()
{
    openEditorWindows().removeAll(this);
}

void EditorWindow::keepOnScreen(const ScreenProvider& screens)
{
    const double primaryHeight = screens.primaryHeight();
    const QRectF frame = flipY(QRectF(frameGeometry()), primaryHeight);
    std::optional<ScreenInfo> screen = screenForPoint(frame.center(), screens);
    if (!screen)
        return;
    const QPointF origin = clampedOrigin(frame.topLeft(), frame.size(), screen->visibleFrame);
    if (origin != frame.topLeft())
        move(flipY(QRectF(origin, frame.size()), primaryHeight).topLeft().toPoint());
}

void EditorWindow::closeEvent(QCloseEvent* event)
{
    if (!m_closed) {
        m_closed = true;
        openEditorWindows().removeAll(this);
        if (!finished && onCancel) {
            // Taken out first: the action may close other windows or drop its captures.
            const auto cancel = std::move(onCancel);
            onCancel = nullptr;
            cancel();
        }
    }
    KeyPanel::closeEvent(event);
}

void EditorWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    KeyPanel::keyPressEvent(event);
}

void EditorWindow::resizeEvent(QResizeEvent* event)
{
    KeyPanel::resizeEvent(event);
    // A resize the user drags is left alone; one the content asks for stays on screen.
    if (isVisible() && QGuiApplication::mouseButtons() == Qt::NoButton)
        keepOnScreen(ScreenProvider::system());
}

QList<EditorWindow*>& openEditorWindows()
{
    static QList<EditorWindow*> windows;
    return windows;
}

void finishEditor(const QPointer<EditorWindow>& window)
{
    if (!window)
        return;
    window->finished = true;
    window->close();
}

} // namespace qv
