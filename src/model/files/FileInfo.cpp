#include "model/files/FileInfo.h"

#include "model/files/FileProbe.h"
#include "model/files/NativeFileName.h"

#include <QDir>
#include <QJsonValue>
#include <QMimeDatabase>
#include <QSet>

namespace qv {

namespace {

// Containers that as often carry sound alone as pictures: their name cannot tell the category.
bool mayHoldSoundAlone(const FileFormat& format)
{
    static const QSet<QString> ids{QStringLiteral("mp4"), QStringLiteral("mov"),  QStringLiteral("mkv"),
                                   QStringLiteral("webm"), QStringLiteral("3gp"), QStringLiteral("wmv")};
    return format.category == FileCategory::video && ids.contains(format.id);
}

// Picture types whose files may hold several frames: their count is asked of the file.
bool mayHoldFrames(const QString& ext)
{
    static const QSet<QString> exts{QStringLiteral("gif"),  QStringLiteral("webp"), QStringLiteral("png"),
                                    QStringLiteral("heic"), QStringLiteral("heif"), QStringLiteral("avif"),
                                    QStringLiteral("jxl")};
    return exts.contains(ext);
}

} // namespace

QJsonObject FileInfo::toJson() const
{
    QJsonObject o;
    o.insert(QStringLiteral("url"), url.toString(QUrl::FullyEncoded));
    o.insert(QStringLiteral("name"), name);
    o.insert(QStringLiteral("baseName"), baseName);
    o.insert(QStringLiteral("ext"), ext);
    o.insert(QStringLiteral("format"), format ? QJsonValue(format->id) : QJsonValue());
    o.insert(QStringLiteral("category"), toString(category));
    o.insert(QStringLiteral("isDirectory"), isDirectory);
    o.insert(QStringLiteral("size"), size);
    o.insert(QStringLiteral("contentType"), contentType ? QJsonValue(*contentType) : QJsonValue());
    o.insert(QStringLiteral("isPromise"), isPromise);
    o.insert(QStringLiteral("frameCount"), frameCount);
    o.insert(QStringLiteral("isEncrypted"), isEncrypted);
    o.insert(QStringLiteral("hasAudio"), hasAudio ? QJsonValue(*hasAudio) : QJsonValue());
    return o;
}

namespace {

// Where a name's extension starts (compound ones included) and where its base name ends; no
// extension: both at the end.
struct NameParts {
    qsizetype baseEnd;
    qsizetype extStart;
};

NameParts nameParts(QStringView name)
{
    // A leading dot marks a hidden file, not an extension (".bashrc" has none).
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || dot == name.size() - 1)
        return {name.size(), name.size()};
    const QStringView last = name.mid(dot + 1);
    for (const char* compressed : {"gz", "bz2", "xz"}) {
        if (last.compare(QLatin1String(compressed), Qt::CaseInsensitive) != 0)
            continue;
        const QStringView before = name.left(dot);
        if (before.size() > 4 && before.endsWith(QLatin1String(".tar"), Qt::CaseInsensitive))
            return {dot - 4, dot - 3};
    }
    return {dot, dot + 1};
}

struct KnownExtension {
    QString spelled; // as the name has it
    QString ext;
    std::optional<FileFormat> format;
};

// The extensions this thread met lately, with their own copies of the strings: thousands of
// names of one kind then share them without threads contending for one reference count.
const KnownExtension& knownExtension(QStringView spelled)
{
    thread_local QList<KnownExtension> known;
    for (const KnownExtension& entry : std::as_const(known)) {
        if (entry.spelled == spelled)
            return entry;
    }
    if (known.size() >= 16)
        known.removeFirst();
    KnownExtension entry;
    entry.spelled = spelled.toString();
    entry.ext = spelled.toString().toLower();
    const auto& formats = formatsByExtension();
    if (const auto it = formats.constFind(entry.ext); it != formats.constEnd()) {
        const auto own = [](const QString& text) { return QString(text.constData(), text.size()); };
        FileFormat format;
        format.id = own(it->id);
        format.label = own(it->label);
        format.category = it->category;
        for (const QString& ext : it->extensions)
            format.extensions.append(own(ext));
        format.uti = own(it->uti);
        format.mimeType = own(it->mimeType);
        entry.format = std::move(format);
    }
    known.append(std::move(entry));
    return known.constLast();
}

} // namespace

QStringView spelledExtension(QStringView name)
{
    return name.mid(nameParts(name).extStart);
}

SplitName splitFileName(const QString& name)
{
    const NameParts parts = nameParts(name);
    if (parts.extStart == name.size())
        return {name, QString()};
    return {name.left(parts.baseEnd), QStringView(name).mid(parts.extStart).toString().toLower()};
}

FileInfo fileInfoForURL(const QUrl& url, const FileProbe& probe)
{
    // A folder's URL may end in "/": its name is still the last component.
    const QUrl item = url.adjusted(QUrl::StripTrailingSlash);
    if (!fileNameIsReadable(item)) {
        // Its path as text names another file: nothing of the disk is looked at.
        FileInfo info = fileInfoFromName(url);
        info.category = FileCategory::other;
        return info;
    }
    const QString path = item.toLocalFile();
    std::optional<ItemStatus> status = probe.status(path);
    if (status && status->isSymbolicLink) {
        const std::optional<QString> real = probe.realPath(path);
        if (real)
            status = probe.status(*real);
    }
    const bool isDirectory = status && status->isDirectory;
    const bool isPackage = status && status->isPackage;

    FileInfo info = fileInfoFromName(url);
    info.category = FileCategory::other;
    const bool special = status && !isDirectory && status->contentType
        && status->contentType->startsWith(QLatin1String("inode/"));

    if (special) {
        // Whatever its name says, a pipe or a device is no picture or document.
    } else if (info.format) {
        if (!isDirectory || isPackage) {
            info.category = info.format->category;
        } else {
            info.category = FileCategory::folder;
            info.isDirectory = true;
        }
    } else if (isDirectory) {
        info.category = FileCategory::folder;
        info.isDirectory = true;
    } else if (status && status->contentType) {
        // Pictures the MIME database names that no decoder here reads (Windows cursors and
        // metafiles, WAP and X window dumps, headerless RGB): every picture entry offered for
        // them could only fail. Asking a decoder instead would wait on it, and a file that hangs
        // its library would hold the wheel that long.
        static const QSet<QString> unreadablePictures{
            QStringLiteral("image/x-win-bitmap"), QStringLiteral("image/wmf"), QStringLiteral("image/x-wmf"),
            QStringLiteral("image/emf"), QStringLiteral("image/x-emf"), QStringLiteral("image/vnd.wap.wbmp"),
            QStringLiteral("image/x-xwindowdump"), QStringLiteral("image/x-rgb")};
        if (!unreadablePictures.contains(*status->contentType))
            info.category = categoryForContentType(*status->contentType);
    }

    if (status) {
        info.size = status->size.value_or(0);
        info.contentType = status->contentType;
    }

    // One look at a video's streams tells both whether it holds sound and, for containers
    // whose name cannot tell, whether it is a video at all.
    // MPEG-4 sound files are asked too, for a sound that no decoder here reads whole.
    const bool mpeg4Sound = info.format && (info.format->id == QLatin1String("m4a") || info.format->id == QLatin1String("m4r"));
    // A video of a type the catalogue knows only by its content type (MNG) is asked too.
    if (!special && !info.isDirectory && (info.category == FileCategory::video || mpeg4Sound)) {
        if (const std::optional<MediaStreams> streams = probe.mediaStreams(path)) {
            if (info.format && mayHoldSoundAlone(*info.format) && (streams->video || streams->audio))
                info.category = streams->video ? FileCategory::video : FileCategory::audio;
            // No stream, or none usable (a sound no decoder here reads whole): every media
            // entry could only fail.
            if (!streams->video && !streams->audio)
                info.category = FileCategory::other;
            info.hasAudio = streams->audio;
            info.mediaDescription = streams->description;
        }
    }

    if (info.category == FileCategory::pdf) {
        if (const auto locked = probe.pdfNeedsPassword(path))
            info.isEncrypted = *locked;
    } else if (info.category == FileCategory::image) {
        if (mayHoldFrames(info.ext)) {
            if (const auto frames = probe.imageFrameCount(path))
                info.frameCount = *frames;
        }
    }
    return info;
}

void lookAheadAtFiles(const QList<QUrl>& urls, const FileProbe& probe)
{
    FilesAhead ahead;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile())
            continue;
        const FileInfo named = fileInfoFromName(url);
        if (named.category == FileCategory::pdf)
            ahead.pdfs.append(named.path());
        else if (named.category == FileCategory::image && mayHoldFrames(named.ext))
            ahead.animations.append(named.path());
        else if (named.category == FileCategory::video)
            ahead.media.append(named.path());
    }
    if (ahead.size() > 1)
        probe.lookAhead(ahead);
}

void lookAheadAtFiles(const QList<QUrl>& urls)
{
    lookAheadAtFiles(urls, FileProbe::system());
}

FileInfo fileInfoFromName(const QUrl& url)
{
    FileInfo info;
    info.url = url;
    // The path is what toLocalFile gives; fileName() would decode it again. Cut in place: a
    // drag of thousands of files comes this way before the wheel opens.
    QString name = url.path();
    name.remove(0, name.lastIndexOf(QLatin1Char('/')) + 1);
    if (name.isEmpty()) // a folder's URL may end in "/"
        name = url.adjusted(QUrl::StripTrailingSlash).fileName();
    const NameParts parts = nameParts(name);
    if (parts.extStart < name.size()) {
        const KnownExtension& known = knownExtension(QStringView(name).mid(parts.extStart));
        info.ext = known.ext;
        info.format = known.format;
        if (known.format)
            info.category = known.format->category;
        info.baseName = name.left(parts.baseEnd);
    } else {
        info.baseName = name;
    }
    info.name = std::move(name);
    return info;
}

FileInfo fileInfoForURL(const QUrl& url)
{
    return fileInfoForURL(url, FileProbe::system());
}

FileInfo promisedFileInfo(const QString& name, const QString& typeIdentifier)
{
    const SplitName split = splitFileName(name);

    std::optional<FileFormat> format = formatForExtension(split.ext);
    if (!format) {
        // The announced type is a catalogue type identifier or a MIME type.
        format = formatForType(typeIdentifier);
        if (!format) {
            static const QMimeDatabase db;
            const QMimeType mime = db.mimeTypeForName(typeIdentifier);
            if (mime.isValid() && !mime.preferredSuffix().isEmpty())
                format = formatForExtension(mime.preferredSuffix().toLower());
        }
    }

    FileInfo info;
    info.name = name;
    info.baseName = split.baseName;
    info.format = format;
    info.category = format ? format->category : categoryForContentType(typeIdentifier);
    info.ext = format ? format->extensions.first() : split.ext;
    // The name comes from another application: it may name a file in the temporary folder,
    // never a path out of it.
    QString fileName = name;
    fileName.replace(QLatin1Char('/'), QLatin1Char('_')).remove(QChar(u'\0'));
    if (fileName.isEmpty() || fileName == QLatin1String(".") || fileName == QLatin1String(".."))
        fileName = QStringLiteral("Promised File");
    info.url = QUrl::fromLocalFile(QDir(QDir::tempPath()).filePath(fileName));
    info.contentType = typeIdentifier;
    info.isPromise = true;
    return info;
}

} // namespace qv
