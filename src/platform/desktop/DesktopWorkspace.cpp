#include "platform/desktop/DesktopWorkspace.h"

#include "model/Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QSet>

namespace qv {

bool DesktopWorkspace::open(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

void DesktopWorkspace::reveal(const QList<QUrl>& urls)
{
    if (urls.isEmpty())
        return;
    QStringList uris;
    for (const QUrl& url : urls)
        uris.append(QString::fromUtf8(url.toEncoded()));

    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    if (reply.type() != QDBusMessage::ErrorMessage)
        return;

    // No file manager answers on the bus: open the folders that hold the items.
    QSet<QString> opened;
    for (const QUrl& url : urls) {
        const QString folder = QFileInfo(url.toLocalFile()).absolutePath();
        if (!opened.contains(folder)) {
            opened.insert(folder);
            QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
        }
    }
}

Workspace& Workspace::system()
{
    static DesktopWorkspace workspace;
    return workspace;
}

} // namespace qv
