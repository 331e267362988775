#pragma once

#include "model/files/FileFormat.h"

#include <QJsonObject>
#include <QUrl>

#include <optional>

namespace qv {

class FileProbe;

// One input file as every operation sees it.
struct FileInfo {
    QUrl url;          // where the file is; for a promise, where it will be written
    QString name;      // last path component, case kept
    QString baseName;  // the name without its extension, case kept
    QString ext;       // lower case, no dot, may be compound ("tar.gz"); empty when none
    std::optional<FileFormat> format;
    FileCategory category = FileCategory::other;
    bool isDirectory = false; // a folder that is not treated as a document
    qint64 size = 0;
    std::optional<QString> contentType; // MIME type
    bool isPromise = false;
    int frameCount = 1;
    bool isEncrypted = false; // a PDF locked by a password
    std::optional<bool> hasAudio; // whether a video holds sound; absent when not looked at
    // FFmpeg's text on a media file, when its streams were looked at; not in toJson(), the
    // worker protocol carries it.
    std::optional<QString> mediaDescription;

    bool operator==(const FileInfo&) const = default;

    QString path() const { return url.toLocalFile(); }
    // The thirteen fields under their own names; the format as its id.
    QJsonObject toJson() const;
};

struct SplitName {
    QString baseName;
    QString ext;
};

// Splits a file name into base name and lower-cased extension; tar.gz, tar.bz2 and tar.xz
// count as one extension.
SplitName splitFileName(const QString& name);

// The extension as a file name spells it, compound ones included, without the dot; empty when
// none. fileInfoFromName's ext and format follow from it alone.
QStringView spelledExtension(QStringView name);

// Never fails: whatever cannot be read gives its default.
FileInfo fileInfoForURL(const QUrl& url, const FileProbe& probe);
FileInfo fileInfoForURL(const QUrl& url);

// Before many files are described one by one: lets the probe ask what their contents say (a
// PDF's lock, a picture's frames, a video's streams) of them all at once, by what their names
// tell, instead of once for each.
void lookAheadAtFiles(const QList<QUrl>& urls, const FileProbe& probe);
void lookAheadAtFiles(const QList<QUrl>& urls);

// What the name alone tells, without touching the disk: the name fields, and the format and
// category its extension gives (other when it gives none). fileInfoForURL may differ for a
// folder with an extension, a file of no known extension and what a look inside finds.
FileInfo fileInfoFromName(const QUrl& url);

// A file another application has promised in a drag but not written yet.
FileInfo promisedFileInfo(const QString& name, const QString& typeIdentifier);

} // namespace qv
