#include "documents/model/DocumentPictures.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

namespace qv {

namespace {

bool isInside(const QString& path, const QString& folder)
{
    if (folder.isEmpty() || path.isEmpty())
        return false;
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    return path.startsWith(prefix);
}

// "http:", "https:", "ftp:", "//host/..." and any other scheme but "file:".
bool isNetworkReference(const QString& reference)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
    if (reference.startsWith(QLatin1String("//")))
        return true;
    const QRegularExpressionMatch match = scheme.match(reference);
    // "C:" alone is no scheme here, but nothing on Linux names a file so either.
    return match.hasMatch() && !reference.startsWith(QLatin1String("file:"), Qt::CaseInsensitive);
}

} // namespace

DocumentPictures::Resolved DocumentPictures::resolve(const QString& reference, const QString& baseFolder,
                                                     const QString& root)
{
    const QString trimmed = reference.trimmed();
    if (trimmed.isEmpty())
        return {Place::missing, {}};
    if (isNetworkReference(trimmed))
        return {Place::outside, {}};
    QString path;
    if (trimmed.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        const QUrl url(trimmed);
        if (!url.isLocalFile() || (!url.host().isEmpty() && url.host() != QLatin1String("localhost")))
            return {Place::outside, {}};
        path = url.toLocalFile();
    } else {
        QString decoded = QUrl::fromPercentEncoding(trimmed.toUtf8());
        if (decoded.contains(QChar::ReplacementCharacter))
            decoded = trimmed;
        // A fragment or query names no other file.
        path = QDir::isAbsolutePath(decoded) ? decoded : QDir(baseFolder).filePath(decoded);
    }
    const QString rootPath = QFileInfo(root).canonicalFilePath();
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty()) {
        // Not there (or not to be seen from here): it counts as outside when its name, or
        // the name a link gives, leads out.
        QString target = path;
        for (int hops = 0; hops < 40 && QFileInfo(target).isSymLink(); ++hops)
            target = QFileInfo(target).symLinkTarget();
        const QString clean = QDir::cleanPath(target);
        const bool named = isInside(clean, QDir::cleanPath(root)) || isInside(clean, rootPath);
        return {named ? Place::missing : Place::outside, {}};
    }
    if (!isInside(canonical, rootPath))
        return {Place::outside, {}};
    if (!QFileInfo(canonical).isFile()) // a folder, a pipe or a device is no picture
        return {Place::missing, {}};
    return {Place::inside, canonical};
}

int DocumentPictures::removeOutside(QList<DocBlock>& blocks, const QString& baseFolder, const QString& root)
{
    const qsizetype before = blocks.size();
    blocks.removeIf([&](const DocBlock& block) {
        return block.kind == DocBlock::Kind::image && !block.data && block.path
            && resolve(*block.path, baseFolder, root).place == Place::outside;
    });
    return int(before - blocks.size());
}

QString DocumentPictures::leftOutNote(int count)
{
    if (count <= 0)
        return {};
    if (count == 1)
        return QStringLiteral("1 picture outside the document's folder was left out");
    return QStringLiteral("%1 pictures outside the document's folder were left out").arg(count);
}

} // namespace qv
