#include "platform/clipboard/CopiedFiles.h"

#include "platform/clipboard/ClipboardReader.h"

#include "model/files/NativeFileName.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeData>
#include <QSet>
#include <QSysInfo>

#include <algorithm>
#include <optional>

#include <sys/stat.h>

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

// The local file a URL names, as the bytes of its path; file URLs of another host name files
// elsewhere.
std::optional<QByteArray> localPath(const QByteArray& text)
{
    return nativePathOfFileUri(text, QSysInfo::machineHostName());
}

QList<QUrl> existingItems(const QList<QByteArray>& urlTexts)
{
    QList<QUrl> urls;
    QSet<QByteArray> seen;
    for (const QByteArray& text : urlTexts) {
        const std::optional<QByteArray> path = localPath(text);
        struct stat st {};
        if (!path || seen.contains(*path) || ::stat(path->constData(), &st) != 0)
            continue;
        seen.insert(*path);
        // The name's own bytes: one that is not UTF-8 is refused later, never read as its twin.
        urls.append(fileUrlForNativePath(*path));
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

CopiedFilesResult readCopiedFiles(const ClipboardReader& reader)
{
    if (!reader.isAvailable())
        return CopiedFilesResult::failed(QStringLiteral("No clipboard is available"));
    for (const auto selection :
         {ClipboardReader::Selection::clipboard, ClipboardReader::Selection::primary}) {
        if (const QMimeData* data = reader.contents(selection)) {
            if (QList<QUrl> urls = copiedFileUrls(*data); !urls.isEmpty())
                return CopiedFilesResult::paths(std::move(urls));
        }
    }
    // Not "copy files first" when the user may well have.
    if (const QString blind = reader.blindSpot(); !blind.isEmpty())
        return CopiedFilesResult::failed(QStringLiteral("Nothing copied was seen: ") + blind);
    return CopiedFilesResult::paths({});
}

CopiedFilesResult readCopiedFiles()
{
    return readCopiedFiles(ClipboardReader::system());
}

} // namespace qv
