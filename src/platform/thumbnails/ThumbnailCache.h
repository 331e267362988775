#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

namespace qv {

// The pictures file managers have already made of files, kept as the freedesktop Thumbnail
// Managing Standard says: PNGs in $XDG_CACHE_HOME/thumbnails/<size>/, each named by the MD5 of
// the file's URI and valid while its Thumb::URI names the file and its Thumb::MTime is the
// file's modification time. Failure markers (fail/) are not pictures and are never used. Only
// read: nothing here writes the cache.
class ThumbnailCache {
public:
    ThumbnailCache() = delete;

    // The cache's folder: $XDG_CACHE_HOME/thumbnails, or ~/.cache/thumbnails.
    static QString root();

    // The URI the standard keys a local file by: "file://" and the absolute path, each byte
    // outside the unreserved characters and "/" percent-encoded.
    static QByteArray fileUri(const QString& path);

    // Where the cache may hold a picture of the URI for a side of this many pixels: the
    // smallest size at least as large first, then the larger ones, then the smaller.
    static QStringList candidates(const QString& cacheRoot, const QByteArray& uri, int side);

    // The texts of a PNG's tEXt chunks by keyword, and of its compressed ones under the
    // standard's Thumb:: keywords (the first of each, a few short ones in all: a hostile file
    // costs what inflating a few megabytes costs); empty for bytes that are no PNG.
    static QHash<QString, QString> pngTexts(const QByteArray& png);

    // The first candidate that is a valid picture of the file as it is now; nothing when there
    // is none. Reads only the cache's own files, never the file itself.
    static std::optional<QString> validThumbnail(const QString& path, int side, const QString& cacheRoot = root());

    // Cached pictures larger than this are not a thumbnail.
    static constexpr qint64 maximumBytes = 8 << 20;
};

} // namespace qv
