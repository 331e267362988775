#include "platform/files/LocalFileProbe.h"

#include "platform/files/InputFile.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>

#include <sys/stat.h>

namespace qv {

namespace {

// Document bundles are directories that the user sees as one file.
bool hasPackageExtension(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("rtfd") || suffix == QLatin1String("pages")
        || suffix == QLatin1String("key") || suffix == QLatin1String("numbers");
}

bool isRegularFile(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

LocalFileProbe::LocalFileProbe(ContentProbes contentProbes)
    : m_contentProbes(std::move(contentProbes))
{
}

std::optional<ItemStatus> LocalFileProbe::status(const QString& path) const
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0)
        return std::nullopt;

    ItemStatus result;
    if (S_ISLNK(st.st_mode)) {
        result.isSymbolicLink = true;
        return result;
    }
    result.isDirectory = S_ISDIR(st.st_mode);
    result.isPackage = result.isDirectory && hasPackageExtension(path);
    if (!result.isDirectory)
        result.size = static_cast<qint64>(st.st_size);
    if (const auto special = InputFile::specialFileType(st.st_mode)) {
        result.contentType = special;
        return result;
    }

    static const QMimeDatabase db;
    const QMimeType mime = result.isDirectory ? db.mimeTypeForName(QStringLiteral("inode/directory"))
                                              : db.mimeTypeForFile(path);
    if (mime.isValid())
        result.contentType = mime.name();
    // MPEG audio of layer I or II under a name the MIME database lacks: frames of layer I have no
    // magic it knows, so their bytes read as unknown data, or as text.
    if (!result.isDirectory && (!mime.isValid() || mime.name() == QLatin1String("application/octet-stream")
                                || mime.inherits(QStringLiteral("text/plain")))) {
        const QString suffix = QFileInfo(path).suffix().toLower();
        if (suffix == QLatin1String("mp1") || suffix == QLatin1String("mpa"))
            result.contentType = QStringLiteral("audio/mpeg");
    }
    return result;
}

std::optional<QString> LocalFileProbe::realPath(const QString& path) const
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty())
        return std::nullopt;
    return canonical;
}

std::optional<bool> LocalFileProbe::pdfNeedsPassword(const QString& path) const
{
    if (!m_contentProbes.pdfNeedsPassword || !isRegularFile(path))
        return std::nullopt;
    return m_contentProbes.pdfNeedsPassword(path);
}

std::optional<int> LocalFileProbe::imageFrameCount(const QString& path) const
{
    if (!m_contentProbes.imageFrameCount || !isRegularFile(path))
        return std::nullopt;
    return m_contentProbes.imageFrameCount(path);
}

std::optional<MediaStreams> LocalFileProbe::mediaStreams(const QString& path) const
{
    if (!m_contentProbes.mediaStreams || !isRegularFile(path))
        return std::nullopt;
    return m_contentProbes.mediaStreams(path);
}

void LocalFileProbe::lookAhead(const FilesAhead& files) const
{
    if (!m_contentProbes.lookAhead)
        return;
    const auto regular = [](const QStringList& paths) {
        QStringList kept;
        for (const QString& path : paths)
            if (isRegularFile(path))
                kept.append(path);
        return kept;
    };
    m_contentProbes.lookAhead({regular(files.pdfs), regular(files.animations), regular(files.media)});
}

} // namespace qv
