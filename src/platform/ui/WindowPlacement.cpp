#include "platform/ui/WindowPlacement.h"

#include "platform/ui/EditorWindow.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWindow>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>

namespace qv {

QPointF clampedOrigin(QPointF proposed, QSizeF size, const QRectF& visibleFrame)
{
    constexpr double margin = 12;
    double x = std::max(proposed.x(), visibleFrame.left() + margin);
    x = std::min(x, visibleFrame.right() - size.width() - margin);
    double y = std::max(proposed.y(), visibleFrame.top() + margin);
    y = std::min(y, visibleFrame.bottom() - size.height() - margin);
    return {x, y};
}

std::optional<QPointF> placedOrigin(QPointF point, QSizeF size, const ScreenProvider& screens)
{
    std::optional<ScreenInfo> screen;
    for (const ScreenInfo& candidate : screens.screens()) {
        if (candidate.frame.contains(point)) {
            screen = candidate;
            break;
        }
    }
    if (!screen)
        screen = screens.mainScreen();
    if (!screen)
        return std::nullopt;
    const QPointF proposed(point.x() - size.width() / 2, point.y() - size.height() - 24);
    return clampedOrigin(proposed, size, screen->visibleFrame);
}

namespace {

std::optional<QMargins>& learnedFrameMargins()
{
    static std::optional<QMargins> margins;
    return margins;
}

QMargins marginsOf(const QWidget* window)
{
    // The native window asks the window manager each time; the widget's own frame is cached
    // from before the manager framed it.
    if (const QWindow* handle = window->windowHandle())
        return handle->frameMargins();
    const QRect frame = window->frameGeometry();
    const QRect inner = window->geometry();
    return {inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
            frame.bottom() - inner.bottom()};
}

} // namespace

QRect framedGeometry(const QWidget* window)
{
    return window->geometry().marginsAdded(marginsOf(window));
}

QMargins expectedFrameMargins(const QWidget* window)
{
    if (window->isVisible() && !marginsOf(window).isNull())
        return marginsOf(window);
    if (learnedFrameMargins())
        return *learnedFrameMargins();
    // Before any window was framed: a window manager on X11 adds at least a title bar.
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        return {0, window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window) + 4, 0, 0};
    return {};
}

void noteFrameMargins(const QWidget* window)
{
    if (window->isVisible() && !marginsOf(window).isNull())
        learnedFrameMargins() = marginsOf(window);
}

void placeWindow(QPointF point, QWidget* window, const ScreenProvider& screens)
{
    const QMargins margins = expectedFrameMargins(window);
    const QSizeF size = window->geometry().marginsAdded(margins).size();
    const std::optional<QPointF> origin = placedOrigin(point, size, screens);
    if (!origin) {
        if (QScreen* primary = QGuiApplication::primaryScreen()) {
            QRect frame = window->frameGeometry();
            frame.moveCenter(primary->availableGeometry().center());
            window->move(frame.topLeft());
        }
        return;
    }
    // y-up bottom-left corner to Qt's top-left, once.
    const QRectF qtFrame = flipY(QRectF(*origin, size), screens.primaryHeight());
    window->move(qtFrame.topLeft().toPoint());
}

EditorWindow* presentInEditorWindow(const QString& title, bool resizable,
                                    std::function<void()> onCancel, QWidget* view, QPointF point,
                                    const ScreenProvider& screens)
{
    auto* window = new EditorWindow(resizable);
    window->setWindowTitle(title);
    window->onCancel = std::move(onCancel);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
    layout->activate();
    const QSize fitting = window->sizeHint();
    QSize content(std::max(fitting.width(), 320), std::max(fitting.height(), 120));
    if (resizable) {
        // A window that can shrink is made to fit the screen, its frame and margins included.
        if (const std::optional<ScreenInfo> screen = screenForPoint(point, screens)) {
            const QMargins frame = expectedFrameMargins(window);
            const QSize room = (screen->visibleFrame.size() - QSizeF(24 + frame.left() + frame.right(),
                                                                      24 + frame.top() + frame.bottom()))
                                   .toSize();
            content = content.boundedTo(room.expandedTo(window->minimumSize()));
        }
        window->resize(content);
    }
    else
        window->setFixedSize(content);
    placeWindow(point, window, screens);
    openEditorWindows().append(window);
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

} // namespace qv
