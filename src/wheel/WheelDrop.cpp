#include "wheel/WheelDrop.h"

#include "jobs/DataPromise.h"
#include "model/files/NativeFileName.h"
#include "model/Log.h"
#include "platform/drags/DragOffer.h"

#include <QFileInfo>
#include <QLocale>
#include <QMimeData>

namespace qv {

namespace {

// Payloads that are not a file's content: texts, lists of addresses, the toolkits' own notes,
// and names of protocols rather than types (XdndDirectSave0).
bool isFileContent(const QString& format)
{
    return format.contains(QLatin1Char('/'))
        && !format.startsWith(QLatin1String("text/"))
        && !format.startsWith(QLatin1String("application/x-qt"))
        && !format.startsWith(QLatin1String("x-special/"))
        && !format.startsWith(QLatin1String("chromium/"))
        && !format.startsWith(QLatin1String("application/x-moz"))
        && !format.contains(QLatin1Char(';'));
}

} // namespace

WheelDrop WheelDrop::fromMimeData(const QMimeData& data, QPointF point, bool optionHeld,
                                  bool readData)
{
    WheelDrop drop;
    drop.point = point;
    drop.optionHeld = optionHeld;
    QString webName;
    // The list's own bytes: Qt's reading of it turns a name's bytes that are not UTF-8 into
    // another file's name.
    QList<QUrl> urls;
    const QString uriList = QStringLiteral("text/uri-list");
    if (data.hasFormat(uriList)) {
        for (const QByteArray& rawLine : data.data(uriList).split('\n')) {
            const QByteArray line = rawLine.trimmed();
            if (!line.isEmpty() && !line.startsWith('#'))
                urls.append(urlOfUriListLine(line));
        }
    } else {
        urls = data.urls();
    }
    for (const QUrl& url : std::as_const(urls)) {
        if (url.isLocalFile())
            drop.urls.append(url);
        else if (webName.isEmpty())
            webName = url.fileName();
    }
    if (!drop.urls.isEmpty() || !readData)
        return drop;
    if (webName.isEmpty() && data.hasFormat(QStringLiteral("text/x-moz-url")))
        webName = DragOffer::parseMozUrl(data.data(QStringLiteral("text/x-moz-url"))).first.fileName();
    // An image's own type first: "application/octet-stream" says less. Of a browser's several
    // renderings of one picture, the one the drag announced, so the entry chosen for it fits.
    QStringList formats;
    for (const QString& format : data.formats()) {
        if (isFileContent(format))
            formats.append(format);
    }
    std::stable_partition(formats.begin(), formats.end(),
                          [](const QString& f) { return f.startsWith(QLatin1String("image/")); });
    const QString announced = DragOffer::imageTypeFor(formats, webName);
    if (!announced.isEmpty()) {
        formats.removeOne(announced);
        formats.prepend(announced);
    }
    for (const QString& format : std::as_const(formats)) {
        const QByteArray bytes = data.data(format);
        qCDebug(wheelLog, "Drop data %s: %lld bytes", qUtf8Printable(format), qlonglong(bytes.size()));
        if (bytes.isEmpty())
            continue;
        DataPromise::Item item{DragOffer::fileNameFor(webName, format), format, {}, {}};
        if (bytes.size() > maxDataBytes)
            item.refusal = QStringLiteral("The dragged data is larger than %1")
                               .arg(QLocale::c().formattedDataSize(maxDataBytes, 0,
                                                                   QLocale::DataSizeSIFormat));
        else
            item.data = bytes;
        drop.promises.append(std::make_shared<DataPromise>(QList<DataPromise::Item>{item}));
        break;
    }
    return drop;
}

void WheelDrop::nameAfter(const QList<FileInfo>& announced)
{
    if (promises.size() != 1 || announced.size() != 1 || !announced.first().isPromise
        || announced.first().name.isEmpty())
        return;
    const auto data = std::dynamic_pointer_cast<DataPromise>(promises.first());
    if (!data || data->items().size() != 1)
        return;
    DataPromise::Item item = data->items().first();
    item.name = DragOffer::fileNameFor(announced.first().name, item.mimeType);
    promises = {std::make_shared<DataPromise>(QList<DataPromise::Item>{item})};
}

} // namespace qv
