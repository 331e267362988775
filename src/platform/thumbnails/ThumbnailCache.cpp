#include "platform/thumbnails/ThumbnailCache.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>
#include <QtEndian>

#include <optional>


namespace qv {

namespace {

struct CacheSize {
    const char* folder;
    int pixels;
};
// The standard's sizes, smallest first.
constexpr CacheSize cacheSizes[] = {{"normal", 128}, {"large", 256}, {"x-large", 512}, {"xx-large", 1024}};

// The longest compressed text looked at: a thumbnail's URI (a path of PATH_MAX bytes, each
// percent-encoded) deflates far below it. Deflate makes at most about a thousand bytes of one,
// so a text stream this long inflates to a few megabytes at most.
constexpr qsizetype streamLimit = 4096;
// What all compressed texts of one file may take together: a few such texts, however many
// chunks a hostile file holds (each one a zlib bomb).
constexpr qsizetype streamBudget = 3 * streamLimit;

// A short zlib stream's text; nothing for a long one (a text that large is no thumbnail's), one
// that does not inflate, or one past the file's budget, which it uses up.
std::optional<QByteArray> inflated(const QByteArray& zlib, qsizetype& budget)
{
    if (zlib.isEmpty() || zlib.size() > streamLimit || zlib.size() > budget)
        return std::nullopt;
    budget -= zlib.size();
    QByteArray sized(4, '\0');
    qToBigEndian<quint32>(quint32(zlib.size() * 8), sized.data());
    const QByteArray text = qUncompress(sized + zlib);
    if (text.isEmpty())
        return std::nullopt;
    return text;
}

} // namespace

QString ThumbnailCache::root()
{
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cache.isEmpty() || !QDir::isAbsolutePath(cache))
        cache = QDir::homePath() + QStringLiteral("/.cache");
    return cache + QStringLiteral("/thumbnails");
}

QByteArray ThumbnailCache::fileUri(const QString& path)
{
    const QByteArray bytes = QFile::encodeName(QFileInfo(path).absoluteFilePath());
    QByteArray uri("file://");
    for (const char c : bytes) {
        const uchar u = uchar(c);
        const bool plain = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9')
            || u == '-' || u == '_' || u == '.' || u == '~' || u == '/' || u == '!' || u == '$' || u == '&'
            || u == '\'' || u == '(' || u == ')' || u == '*' || u == '+' || u == ',' || u == ';' || u == '='
            || u == ':' || u == '@';
        if (plain) {
            uri += c;
        } else {
            uri += '%';
            uri += QByteArray::number(u, 16).toUpper().rightJustified(2, '0');
        }
    }
    return uri;
}

QStringList ThumbnailCache::candidates(const QString& cacheRoot, const QByteArray& uri, int side)
{
    const QString name =
        QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) + QStringLiteral(".png");
    QStringList larger;
    QStringList smaller;
    for (const CacheSize& size : cacheSizes) {
        const QString path = cacheRoot + QLatin1Char('/') + QLatin1String(size.folder) + QLatin1Char('/') + name;
        if (size.pixels >= side)
            larger.append(path);
        else
            smaller.prepend(path);
    }
    return larger + smaller;
}

QHash<QString, QString> ThumbnailCache::pngTexts(const QByteArray& png)
{
    QHash<QString, QString> texts;
    qsizetype budget = streamBudget;
    QSet<QString> seen;
    static const QByteArray signature("\x89PNG\r\n\x1a\n", 8);
    if (!png.startsWith(signature))
        return texts;
    qsizetype at = signature.size();
    while (at + 12 <= png.size()) {
        const quint32 length = qFromBigEndian<quint32>(png.constData() + at);
        const QByteArray type = png.mid(at + 4, 4);
        if (length > quint32(png.size() - at - 12))
            break;
        if (type == "tEXt" || type == "zTXt" || type == "iTXt") {
            const QByteArray data = png.mid(at + 8, qsizetype(length));
            const qsizetype zero = data.indexOf('\0');
            const QString keyword = zero > 0 ? QString::fromLatin1(data.left(zero)) : QString();
            // The first of a keyword counts; a file that repeats one is read no further for it.
            // Compressed, only the standard's own texts are worth inflating.
            const bool wanted = keyword.startsWith(QLatin1String("Thumb::")) || type == "tEXt";
            if (zero > 0 && wanted && !seen.contains(keyword)) {
                seen.insert(keyword);
                if (type == "tEXt") {
                    texts.insert(keyword, QString::fromLatin1(data.mid(zero + 1)));
                } else if (type == "zTXt") {
                    // Qt writes texts longer than 40 characters compressed.
                    if (const std::optional<QByteArray> text = inflated(data.mid(zero + 2), budget))
                        texts.insert(keyword, QString::fromLatin1(*text));
                } else if (zero + 3 <= data.size()) {
                    const bool compressed = data.at(zero + 1) != 0;
                    const qsizetype language = data.indexOf('\0', zero + 3);
                    const qsizetype translated = language < 0 ? -1 : data.indexOf('\0', language + 1);
                    if (translated >= 0) {
                        const QByteArray body = data.mid(translated + 1);
                        const std::optional<QByteArray> text = compressed ? inflated(body, budget) : std::optional(body);
                        if (text)
                            texts.insert(keyword, QString::fromUtf8(*text));
                    }
                }
            }
        }
        if (type == "IEND")
            break;
        at += 12 + qsizetype(length);
    }
    return texts;
}

std::optional<QString> ThumbnailCache::validThumbnail(const QString& path, int side, const QString& cacheRoot)
{
    const QFileInfo file(path);
    if (!file.isFile())
        return std::nullopt;
    const QByteArray uri = fileUri(path);
    const qint64 mtime = file.lastModified().toSecsSinceEpoch();
    for (const QString& candidate : candidates(cacheRoot, uri, side)) {
        const QFileInfo info(candidate);
        if (!info.isFile() || info.size() > maximumBytes)
            continue;
        QFile png(candidate);
        if (!png.open(QIODevice::ReadOnly))
            continue;
        const QHash<QString, QString> texts = pngTexts(png.read(maximumBytes));
        bool mtimeOk = false;
        const qint64 recorded = texts.value(QStringLiteral("Thumb::MTime")).toLongLong(&mtimeOk);
        if (texts.value(QStringLiteral("Thumb::URI")).toLatin1() == uri && mtimeOk && recorded == mtime)
            return candidate;
    }
    return std::nullopt;
}

} // namespace qv
