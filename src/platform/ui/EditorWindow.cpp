#include "platform/ui/EditorWindow.h"

#include "platform/ui/WindowPlacement.h"
#include "platform/ScreenProvider.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QTimer>

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
    const QRectF frame = flipY(QRectF(framedGeometry(this)), primaryHeight);
    std::optional<ScreenInfo> screen = screenForPoint(frame.center(), screens);
    if (!screen)
        return;
    const QPointF origin = clampedOrigin(frame.topLeft(), frame.size(), screen->visibleFrame);
    if (origin != frame.topLeft())
        move(flipY(QRectF(origin, frame.size()), primaryHeight).topLeft().toPoint());
}

void EditorWindow::showEvent(QShowEvent* event)
{
    KeyPanel::showEvent(event);
    // The window manager frames the window after it is shown, and the title bar it adds may
    // push the bottom past the screen: checked again once the frame is there. A window the user
    // is dragging is left where it is.
    for (const int delay : {0, 100, 400, 1200}) {
        QTimer::singleShot(delay, this, [this] {
            if (!isVisible() || QGuiApplication::mouseButtons() != Qt::NoButton)
                return;
            noteFrameMargins(this);
            keepOnScreen(ScreenProvider::system());
        });
    }
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
