// A native Wayland program to drag files from: a square layer surface at (100, 100), 200 pixels
// wide, so the tests know where it is on any compositor. A press and a move start a Qt drag of
// the URLs given as arguments. It prints "ready" once it is on screen, and "drag-start" and
// "drag-end" around each drag.

#include "platform/wayland/LayerShell.h"
#include "support/Say.h"

#include <QDrag>
#include <QGuiApplication>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QRasterWindow>
#include <QTimer>
#include <QUrl>

#include <cstdio>

namespace {

class SourceWindow : public QRasterWindow {
public:
    QList<QUrl> urls;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter(this).fillRect(QRect(QPoint(), size()), QColor(40, 120, 200));
    }
    void mousePressEvent(QMouseEvent* event) override { m_pressedAt = event->position().toPoint(); }
    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (!(event->buttons() & Qt::LeftButton) || m_dragging)
            return;
        if ((event->position().toPoint() - m_pressedAt).manhattanLength() < 4)
            return;
        m_dragging = true;
        auto* data = new QMimeData;
        data->setUrls(urls);
        auto* drag = new QDrag(this);
        drag->setMimeData(data);
        qv::test::say(QStringLiteral("drag-start"));
        const Qt::DropAction action = drag->exec(Qt::CopyAction);
        qv::test::say(QStringLiteral("drag-end %1").arg(int(action)));
        m_dragging = false;
    }

private:
    QPoint m_pressedAt;
    bool m_dragging = false;
};

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "wayland");
    qputenv("QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT", "1");
    qputenv("QT_WAYLAND_DISABLE_FIXED_POSITIONS", "1");
    QGuiApplication app(argc, argv);
    if (!qv::LayerShell::isAvailable()) {
        std::fprintf(stderr, "the compositor offers no layer surfaces\n");
        return 2;
    }
    qv::LayerShell::install();
    SourceWindow window;
    for (const QString& arg : app.arguments().mid(1))
        window.urls.append(QUrl(arg));
    window.setFlags(Qt::FramelessWindowHint | Qt::BypassWindowManagerHint);
    const QRect frame(100, 100, 200, 200);
    window.setGeometry(frame);
    qv::LayerShell::setPlacement(&window, qv::LayerShell::placementAt(frame, window.screen()));
    window.show();
    qv::LayerShell::ensureRole(&window);

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!qv::LayerShell::hasRole(&window) || !window.isExposed())
            return;
        poll.stop();
        qv::test::say(QStringLiteral("ready"));
    });
    poll.start(10);
    return app.exec();
}
