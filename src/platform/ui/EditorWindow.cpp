#include "platform/ui/EditorWindow.h"

#include "platform/desktop/ScreenProvider.h"
#include "platform/ui/WindowPlacement.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLayout>
#include <QTimer>

#include <cmath>

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
    // A window taller or wider, frame included, than the screen has room for gives up the
    // difference, as far as its content allows: no edge of it is then out of reach.
    // The room placement keeps: 12 points inside every edge.
    const QSizeF room = screen->visibleFrame.size() - QSizeF(24, 24);
    const int tooTall = int(std::ceil(frame.height() - room.height()));
    const int tooWide = int(std::ceil(frame.width() - room.width()));
    if (tooTall > 0 || tooWide > 0) {
        const bool fixed = minimumSize() == maximumSize();
        // A window of fixed size gives it up too, down to what its content can be laid out in.
        const QSize least = fixed ? (layout() ? layout()->minimumSize() : QSize()) : minimumSize();
        const QSize fitted(std::max(width() - std::max(tooWide, 0), least.width()),
                           std::max(height() - std::max(tooTall, 0), least.height()));
        if (fitted != size()) {
            if (fixed)
                setFixedSize(fitted);
            else
                resize(fitted);
            // Placed again once the window manager has framed the new size.
            const ScreenProvider* provider = &screens;
            for (const int delay : {100, 400}) {
                QTimer::singleShot(delay, this, [this, provider] {
                    if (isVisible() && QGuiApplication::mouseButtons() == Qt::NoButton)
                        keepOnScreen(*provider);
                });
            }
            return;
        }
    }
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
