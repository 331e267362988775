// A window that starts a Qt drag when the pointer moves with the button down: of file URLs
// ("files <url>..."), of text ("text <words>"), or of data without a file as browsers offer it:
// "chromium <file> <name>" (the bytes as application/octet-stream, a web address and the name
// suggested for a direct save, no URI list), "firefox <file> <type> <address>" (a file promise,
// the web address as the URL list, the bytes under their image type), "url <address>" (a web
// address alone), "three <file>" (a picture as image/jpeg, its web address and HTML: three types,
// which a source names only in its XdndEnter message), "bytes <file>" (the bytes as
// application/octet-stream alone), "renderings <png> <jpeg> <address>" (one picture of a web
// page as Firefox offers it: its address, a file promise's address, then the picture made
// into PNG and into JPEG). It prints "ready <x> <y>" (the window's centre) once it can be dragged from, and
// "drag-start" and "drag-end" around each drag. With QV_DRAG_SOURCE_FULLSCREEN=1 the window
// fills the screen, so that a Wayland compositor, which places windows itself, puts every point
// of the screen on it.

#include "support/Say.h"

#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <QWindow>
#include <QScreen>

#include <QFile>

#include <X11/Xlib.h>

#include <cstdio>

namespace {

// "text/x-moz-url" as browsers write it: UTF-16, the address and a title on two lines. A Qt
// source cannot hand it over under that name, but it is in the list of what is offered.
QByteArray mozUrl(const QString& address, const QString& title)
{
    const QString text = address + QLatin1Char('\n') + title;
    return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}

// The name a direct save would use goes on the window that owns the drag, as browsers put it.
void suggestDirectSaveName(const QByteArray& name, int attempts = 200)
{
    Display* dpy = XOpenDisplay(nullptr);
    if (!dpy)
        return;
    const Window owner = XGetSelectionOwner(dpy, XInternAtom(dpy, "XdndSelection", False));
    if (owner != None) {
        XChangeProperty(dpy, owner, XInternAtom(dpy, "XdndDirectSave0", False),
                        XInternAtom(dpy, "text/plain", False), 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(name.constData()), int(name.size()));
        XSync(dpy, False);
    }
    XCloseDisplay(dpy);
    if (owner == None && attempts > 0)
        QTimer::singleShot(5, [name, attempts] { suggestDirectSaveName(name, attempts - 1); });
}

class SourceWindow : public QWidget {
public:
    QList<QUrl> urls;
    QString text;
    QList<std::pair<QString, QByteArray>> formats;
    QByteArray directSaveName;

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
        for (const auto& [format, bytes] : std::as_const(formats))
            data->setData(format, bytes);
        if (!urls.isEmpty())
            data->setUrls(urls);
        if (!text.isEmpty())
            data->setText(text);
        if (!directSaveName.isEmpty()) {
            const QByteArray name = directSaveName;
            QTimer::singleShot(0, [name] { suggestDirectSaveName(name); });
        }
        // On the heap and left to Qt: a drop target reads the data after exec() has returned,
        // while Qt still holds the drag for it.
        auto* drag = new QDrag(this);
        drag->setMimeData(data);
        qv::test::say(QStringLiteral("drag-start"));
        drag->exec(Qt::CopyAction);
        qv::test::say(QStringLiteral("drag-end"));
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
    const QString mode = args.value(0);
    const bool known = (mode == QLatin1String("files") && args.size() >= 2)
        || (mode == QLatin1String("text") && args.size() >= 2)
        || (mode == QLatin1String("chromium") && args.size() == 3)
        || (mode == QLatin1String("firefox") && args.size() == 4)
        || (mode == QLatin1String("url") && args.size() == 2)
        || (mode == QLatin1String("three") && args.size() == 2)
        || (mode == QLatin1String("bytes") && args.size() == 2)
        || (mode == QLatin1String("renderings") && args.size() == 4);
    if (!known) {
        std::fprintf(stderr,
                     "usage: %s files <url>... | text <words> | chromium <file> <name> | "
                     "firefox <file> <type> <address> | url <address> | three <file> | bytes <file> | "
                     "renderings <png> <jpeg> <address>\n",
                     argv[0]);
        return 2;
    }
    const auto contents = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    SourceWindow window;
    if (mode == QLatin1String("chromium")) {
        const QString address = QStringLiteral("https://example.com/view?id=7");
        window.formats = {{QStringLiteral("text/x-moz-url"), mozUrl(address, args[2])},
                          {QStringLiteral("text/plain"), address.toUtf8()},
                          {QStringLiteral("XdndDirectSave0"), {}},
                          {QStringLiteral("application/octet-stream"), contents(args[1])},
                          {QStringLiteral("text/html"), "<img src=\"" + address.toUtf8() + "\">"}};
        window.directSaveName = args[2].toUtf8();
    } else if (mode == QLatin1String("firefox")) {
        // A Qt source answers "text/x-moz-url" only from its URL list.
        window.formats = {{QStringLiteral("application/x-moz-file-promise"), {}},
                          {args[2], contents(args[1])}};
        window.urls = {QUrl(args[3])};
    } else if (mode == QLatin1String("three")) {
        const QString address = QStringLiteral("https://example.com/pics/harbour.jpg");
        window.formats = {{QStringLiteral("image/jpeg"), contents(args[1])},
                          {QStringLiteral("text/x-moz-url"), mozUrl(address, QStringLiteral("Harbour"))},
                          {QStringLiteral("text/html"), "<img src=\"" + address.toUtf8() + "\">"}};
    } else if (mode == QLatin1String("renderings")) {
        window.formats = {{QStringLiteral("text/x-moz-url"), mozUrl(args[3], QStringLiteral("Harbour"))},
                          {QStringLiteral("application/x-moz-file-promise-url"), args[3].toUtf8()},
                          {QStringLiteral("image/png"), contents(args[1])},
                          {QStringLiteral("image/jpeg"), contents(args[2])}};
        window.urls = {QUrl(args[3])};
    } else if (mode == QLatin1String("bytes")) {
        window.formats = {{QStringLiteral("application/octet-stream"), contents(args[1])}};
    } else if (mode == QLatin1String("url")) {
        window.urls = {QUrl(args[1])};
        window.text = args[1];
    } else if (mode == QLatin1String("files")) {
        for (const QString& arg : args.mid(1))
            window.urls.append(QUrl(arg));
    } else {
        window.text = args.mid(1).join(QLatin1Char(' '));
    }
    window.setWindowFlag(Qt::FramelessWindowHint);
    window.setGeometry(100, 100, 300, 300);
    const bool fullScreen = qEnvironmentVariable("QV_DRAG_SOURCE_FULLSCREEN") == QLatin1String("1");
    if (fullScreen)
        window.showFullScreen();
    else
        window.show();

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!window.windowHandle() || !window.windowHandle()->isExposed())
            return;
        // The window manager makes it full screen a moment after it shows.
        if (fullScreen && window.windowHandle()->screen()
            && window.size() != window.windowHandle()->screen()->size())
            return;
        poll.stop();
        const QPoint centre = window.mapToGlobal(window.rect().center());
        qv::test::say(QStringLiteral("ready %1 %2").arg(centre.x()).arg(centre.y()));
    });
    poll.start(10);
    return app.exec();
}
