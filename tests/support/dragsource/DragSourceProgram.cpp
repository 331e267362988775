// A window that starts a Qt drag when the pointer moves with the button down: of file URLs
// ("files <url>...") or of text ("text <words>"). It prints "ready <x> <y>" (the window's
// centre) once it can be dragged from, and "drag-start" and "drag-end" around each drag.

#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <QWindow>

#include <cstdio>

namespace {

class SourceWindow : public QWidget {
public:
    QList<QUrl> urls;
    QString text;

protected:
    void mousePressEvent(QMouseEvent* event) override { m_pressedAt = event->position().toPoint(); }

    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (!(event->buttons() & Qt::LeftButton) || m_dragging)
            return;
        if ((event->position().toPoint() - m_pressedAt).manhattanLength()
            < QApplication::startDragDistance())
            return;
        m_dragging = true;
        auto* data = new QMimeData;
        if (urls.isEmpty())
            data->setText(text);
        else
            data->setUrls(urls);
        QDrag drag(this);
        drag.setMimeData(data);
        std::printf("drag-start\n");
        std::fflush(stdout);
        drag.exec(Qt::CopyAction);
        std::printf("drag-end\n");
        std::fflush(stdout);
        m_dragging = false;
    }

private:
    QPoint m_pressedAt;
    bool m_dragging = false;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() < 2 || (args[0] != QLatin1String("files") && args[0] != QLatin1String("text"))) {
        std::fprintf(stderr, "usage: %s files <url>... | text <words>\n", argv[0]);
        return 2;
    }
    SourceWindow window;
    if (args[0] == QLatin1String("files")) {
        for (const QString& arg : args.mid(1))
            window.urls.append(QUrl(arg));
    } else {
        window.text = args.mid(1).join(QLatin1Char(' '));
    }
    window.setWindowFlag(Qt::FramelessWindowHint);
    window.setGeometry(100, 100, 300, 300);
    window.show();

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!window.windowHandle() || !window.windowHandle()->isExposed())
            return;
        poll.stop();
        const QPoint centre = window.mapToGlobal(window.rect().center());
        std::printf("ready %d %d\n", centre.x(), centre.y());
        std::fflush(stdout);
    });
    poll.start(10);
    return app.exec();
}
