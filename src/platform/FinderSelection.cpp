#include "platform/FinderSelection.h"

#include "platform/ClipboardReader.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeData>
#include <QSet>
#include <QSysInfo>

#include <algorithm>
#include <optional>

namespace qv {

namespace {

QList<QByteArray> lines(const QByteArray& bytes)
{
    QList<QByteArray> result;
    for (const QByteArray& line : bytes.split('\n')) {
        const QByteArray trimmed = line.trimmed(); // also the "\r" of "\r\n"
        if (!trimmed.isEmpty())
            result.append(trimmed);
    }
    return result;
}

// The local file a URL names; file URLs of another host name files elsewhere.
std::optional<QString> localPath(const QByteArray& text)
{
    const QUrl url(QString::fromUtf8(text), QUrl::TolerantMode);
    if (!url.isValid() || url.scheme() != QLatin1String("file"))
        return std::nullopt;
    const QString host = url.host();
    if (!host.isEmpty() && host != QLatin1String("localhost")
        && host.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) != 0)
        return std::nullopt;
    const QString path = url.path(QUrl::FullyDecoded);
    if (!path.startsWith(QLatin1Char('/')))
        return std::nullopt;
    // "//x" would turn into a URL of host x; "/a/../b" into a second name for one file.
    return QDir::cleanPath(path);
}

QList<QUrl> existingItems(const QList<QByteArray>& urlTexts)
{
    QList<QUrl> urls;
    QSet<QString> seen;
    for (const QByteArray& text : urlTexts) {
        const std::optional<QString> path = localPath(text);
        if (!path || seen.contains(*path) || !QFileInfo::exists(*path))
            continue;
        seen.insert(*path);
        urls.append(QUrl::fromLocalFile(*path));
    }
    return urls;
}

} // namespace

QList<QUrl> copiedFileUrls(const QMimeData& data)
{
    const QString uriList = QStringLiteral("text/uri-list");
    if (data.hasFormat(uriList)) {
        QList<QByteArray> entries;
        for (const QByteArray& line : lines(data.data(uriList))) {
            if (!line.startsWith('#'))
                entries.append(line);
        }
        if (const QList<QUrl> urls = existingItems(entries); !urls.isEmpty())
            return urls;
    }
    const QString gnome = QStringLiteral("x-special/gnome-copied-files");
    if (data.hasFormat(gnome)) {
        QList<QByteArray> entries = lines(data.data(gnome));
        if (!entries.isEmpty() && (entries.first() == "copy" || entries.first() == "cut")) {
            entries.removeFirst();
            if (const QList<QUrl> urls = existingItems(entries); !urls.isEmpty())
                return urls;
        }
    }
    if (data.hasText()) {
        // Text counts only when every line of it is a file URL, never prose that holds one.
        const QList<QByteArray> entries = lines(data.text().toUtf8());
        const bool allFileUrls = !entries.isEmpty()
            && std::all_of(entries.begin(), entries.end(),
                           [](const QByteArray& line) { return localPath(line).has_value(); });
        if (allFileUrls)
            return existingItems(entries);
    }
    return {};
}

FinderSelectionResult readFinderSelection(const ClipboardReader& reader)
{
    if (!reader.isAvailable())
        return FinderSelectionResult::failed(QStringLiteral("No clipboard is available"));
    for (const auto selection :
         {ClipboardReader::Selection::clipboard, ClipboardReader::Selection::primary}) {
        if (const QMimeData* data = reader.contents(selection)) {
            if (QList<QUrl> urls = copiedFileUrls(*data); !urls.isEmpty())
                return FinderSelectionResult::paths(std::move(urls));
        }
    }
    return FinderSelectionResult::paths({});
}

FinderSelectionResult readFinderSelection()
{
    return readFinderSelection(ClipboardReader::system());
}

} // namespace qv
