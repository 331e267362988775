// Both sides of a copy on a Wayland compositor.
//   copy <url>...  an ordinary window that puts the files on the clipboard, as a file manager
//                  does, when it gets the keyboard and at each click (compositors that take
//                  a copy only right after the user's input: sway); prints "copied" each time,
//                  and keeps serving the clipboard until it is killed. Full screen with
//                  QV_COPY_FULLSCREEN set, so that a click anywhere reaches it.
//   read           no window at all, so never the keyboard: prints "ready", then answers each
//                  line "read" of its input with "copied <url>..." (the files the application
//                  would open) or "failed <message>".

#include "platform/clipboard/CopiedFiles.h"
#include "platform/wayland/DataControlClipboard.h"
#include "support/Say.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QRasterWindow>
#include <QSocketNotifier>
#include <QUrl>

#include <cstdio>
#include <unistd.h>

namespace {

using qv::test::say;

class CopyWindow : public QRasterWindow {
public:
    explicit CopyWindow(QList<QUrl> urls) : m_urls(std::move(urls)) {}

protected:
    void focusInEvent(QFocusEvent*) override { copy(); }
    void mousePressEvent(QMouseEvent*) override { copy(); }

private:
    void copy()
    {
        auto* data = new QMimeData;
        data->setUrls(m_urls);
        QByteArray gnome = "copy";
        for (const QUrl& url : m_urls)
            gnome += '\n' + url.toEncoded();
        data->setData(QStringLiteral("x-special/gnome-copied-files"), gnome);
        QGuiApplication::clipboard()->setMimeData(data);
        say(QStringLiteral("copied"));
    }

    QList<QUrl> m_urls;
};

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "wayland");
    QGuiApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.value(0) == QLatin1String("copy")) {
        QList<QUrl> urls;
        for (const QString& text : arguments.mid(1))
            urls.append(QUrl::fromEncoded(text.toUtf8()));
        CopyWindow window(urls);
        window.resize(300, 200);
        if (qEnvironmentVariableIsSet("QV_COPY_FULLSCREEN"))
            window.showFullScreen();
        else
            window.show();
        return app.exec();
    }
    say(qv::DataControlClipboard::shared() ? QStringLiteral("ready data-control") : QStringLiteral("ready"));
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[256];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, got);
        while (pending.contains('\n')) {
            const QByteArray line = pending.left(pending.indexOf('\n'));
            pending.remove(0, line.size() + 1);
            if (line != "read")
                continue;
            const qv::CopiedFilesResult result = qv::readCopiedFiles();
            if (result.kind == qv::CopiedFilesResult::Kind::failed) {
                say(QStringLiteral("failed ") + result.message);
                continue;
            }
            QStringList words{QStringLiteral("copied")};
            for (const QUrl& url : result.urls)
                words.append(QString::fromUtf8(url.toEncoded()));
            say(words.join(QLatin1Char(' ')));
        }
    });
    return app.exec();
}
