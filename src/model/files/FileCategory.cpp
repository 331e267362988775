#include "model/files/FileCategory.h"

#include "model/files/FileFormat.h"

#include <QMimeDatabase>

namespace qv {

QString title(FileCategory category)
{
    switch (category) {
    case FileCategory::image: return QStringLiteral("Images");
    case FileCategory::video: return QStringLiteral("Video");
    case FileCategory::audio: return QStringLiteral("Audio");
    case FileCategory::pdf: return QStringLiteral("PDF");
    case FileCategory::document: return QStringLiteral("Documents");
    case FileCategory::presentation: return QStringLiteral("Presentations");
    case FileCategory::spreadsheet: return QStringLiteral("Spreadsheets");
    case FileCategory::ebook: return QStringLiteral("E-books");
    case FileCategory::subtitle: return QStringLiteral("Subtitles");
    case FileCategory::archive: return QStringLiteral("Archives");
    case FileCategory::folder: return QStringLiteral("Folders");
    case FileCategory::other: return QStringLiteral("Other files");
    }
    return QStringLiteral("Other files");
}

namespace {

bool inheritsAny(const QMimeType& type, std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        if (type.inherits(QLatin1String(name)))
            return true;
    }
    return false;
}

bool isAny(const QMimeType& type, std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        if (type.name() == QLatin1String(name))
            return true;
    }
    return false;
}

} // namespace

FileCategory categoryForContentType(const QString& type)
{
    // A type identifier of the catalogue stands for its MIME type.
    QString mimeName = type;
    if (!type.contains(QLatin1Char('/'))) {
        if (const auto format = formatForType(type))
            mimeName = format->mimeType;
    }
    static const QMimeDatabase db;
    const QMimeType mime = db.mimeTypeForName(mimeName);
    if (!mime.isValid())
        return FileCategory::other;
    const QString name = mime.name();

    if (mime.inherits(QStringLiteral("application/pdf")))
        return FileCategory::pdf;
    if (name.startsWith(QLatin1String("image/")))
        return FileCategory::image;
    if (name.startsWith(QLatin1String("video/")))
        return FileCategory::video;
    if (name.startsWith(QLatin1String("audio/")))
        return FileCategory::audio;
    // Office packages inherit application/zip here, so archives are matched by name only.
    if (isAny(mime, {"application/zip", "application/x-tar", "application/gzip",
                     "application/x-bzip", "application/x-bzip2", "application/x-xz",
                     "application/x-7z-compressed", "application/vnd.rar", "application/x-rar",
                     "application/x-compressed-tar", "application/x-bzip-compressed-tar",
                     "application/x-xz-compressed-tar", "application/x-zstd-compressed-tar",
                     "application/zstd", "application/x-lzma", "application/x-cpio",
                     "application/x-archive"}))
        return FileCategory::archive;
    if (inheritsAny(mime, {"application/vnd.oasis.opendocument.spreadsheet",
                           "application/vnd.ms-excel",
                           "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
                           "application/vnd.apple.numbers", "text/csv",
                           "text/tab-separated-values"}))
        return FileCategory::spreadsheet;
    if (inheritsAny(mime,
                    {"application/vnd.oasis.opendocument.presentation",
                     "application/vnd.ms-powerpoint",
                     "application/vnd.openxmlformats-officedocument.presentationml.presentation",
                     "application/vnd.apple.keynote"}))
        return FileCategory::presentation;
    if (mime.inherits(QStringLiteral("text/plain")))
        return FileCategory::document;
    if (inheritsAny(mime,
                    {"application/msword", "application/rtf",
                     "application/vnd.openxmlformats-officedocument.wordprocessingml.document",
                     "application/vnd.oasis.opendocument.text", "application/vnd.apple.pages",
                     "application/epub+zip", "application/xhtml+xml"}))
        return FileCategory::document;
    if (name == QLatin1String("inode/directory"))
        return FileCategory::folder;
    return FileCategory::other;
}

} // namespace qv
