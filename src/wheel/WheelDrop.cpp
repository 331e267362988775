#include "wheel/WheelDrop.h"

#include "jobs/DataPromise.h"

#include <QFileInfo>
#include <QMimeData>

namespace qv {

namespace {

// Payloads that are not a file's content: texts, lists of addresses, the toolkits' own notes.
bool isFileContent(const QString& format)
{
    return !format.startsWith(QLatin1String("text/"))
        && !format.startsWith(QLatin1String("application/x-qt"))
        && !format.startsWith(QLatin1String("x-special/"))
        && !format.startsWith(QLatin1String("chromium/"))
        && !format.startsWith(QLatin1String("application/x-moz"))
        && !format.contains(QLatin1Char(';'));
}

} // namespace

WheelDrop WheelDrop::fromMimeData(const QMimeData& data, QPointF point, bool optionHeld)
{
    WheelDrop drop;
    drop.point = point;
    drop.optionHeld = optionHeld;
    QString webName;
    for (const QUrl& url : data.urls()) {
        if (url.isLocalFile())
            drop.urls.append(url);
        else if (webName.isEmpty())
            webName = QFileInfo(url.path()).fileName();
    }
    if (!drop.urls.isEmpty())
        return drop;
    for (const QString& format : data.formats()) {
        if (!isFileContent(format))
            continue;
        const QByteArray bytes = data.data(format);
        if (bytes.isEmpty())
            continue;
        drop.promises.append(std::make_shared<DataPromise>(
            QList<DataPromise::Item>{{webName, format, bytes}}));
        break;
    }
    return drop;
}

} // namespace qv
