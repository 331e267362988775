#include "platform/clipboard/SystemClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace qv {

void SystemClipboard::setText(const QString& text)
{
    if (QClipboard* clipboard = QGuiApplication::clipboard()) {
        clipboard->clear();
        clipboard->setText(text);
    }
}

void SystemClipboard::setFiles(const QList<QUrl>& urls)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return;
    auto* data = new QMimeData;
    data->setUrls(urls);
    QByteArray gnome = "copy";
    QStringList paths;
    for (const QUrl& url : urls) {
        gnome += '\n' + url.toEncoded();
        paths.append(url.toLocalFile());
    }
    data->setData(QStringLiteral("x-special/gnome-copied-files"), gnome);
    data->setText(paths.join(QLatin1Char('\n')));
    clipboard->setMimeData(data);
}

Clipboard& Clipboard::system()
{
    static SystemClipboard clipboard;
    return clipboard;
}

} // namespace qv
