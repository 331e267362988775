#include "platform/thumbnails/ThumbnailCache.h"
#include "platform/thumbnails/Thumbnailers.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QMimeDatabase>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <QtEndian>

#include <ctime>

using namespace qv;

namespace {

// A cached picture as file managers write it: a PNG whose text chunks name the file and its time.
void writeCached(const QString& path, const QByteArray& uri, qint64 mtime)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::green);
    image.setText(QStringLiteral("Thumb::URI"), QString::fromLatin1(uri));
    image.setText(QStringLiteral("Thumb::MTime"), QString::number(mtime));
    ASSERT_TRUE(image.save(path, "PNG"));
}

} // namespace

TEST(ThumbnailCache, NamesFilesAsTheStandardDoes)
{
    // The standard's own example: the MD5 of "file:///home/jens/photos/me.png".
    const QByteArray uri = ThumbnailCache::fileUri(QStringLiteral("/home/jens/photos/me.png"));
    EXPECT_EQ(uri, "file:///home/jens/photos/me.png");
    EXPECT_EQ(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex(), "c6ee772d9e49320e97ec29a7eb5b1697");
    EXPECT_EQ(ThumbnailCache::fileUri(QStringLiteral("/a b/caf\u00e9#1%.txt")), "file:///a%20b/caf%C3%A9%231%25.txt");
    // The smallest size at least as large first, then larger, then smaller.
    const QStringList at200 = ThumbnailCache::candidates(QStringLiteral("/c"), uri, 200);
    const QString name = QStringLiteral("/c6ee772d9e49320e97ec29a7eb5b1697.png");
    EXPECT_EQ(at200, (QStringList{"/c/large" + name, "/c/x-large" + name, "/c/xx-large" + name, "/c/normal" + name}));
    EXPECT_EQ(ThumbnailCache::candidates(QStringLiteral("/c"), uri, 96).first(), "/c/normal" + name);
}

TEST(ThumbnailCache, APictureCountsOnlyForTheFileAsItIsNow)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("photo one.jpg");
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write("x");
    out.close();
    const qint64 mtime = QFileInfo(file).lastModified().toSecsSinceEpoch();
    const QString cache = dir.filePath("cache");
    const QByteArray uri = ThumbnailCache::fileUri(file);
    const QString normal = ThumbnailCache::candidates(cache, uri, 128).first();
    EXPECT_FALSE(ThumbnailCache::validThumbnail(file, 128, cache));

    // Of another time: stale. Of another file: not this one's. A failure marker: not a picture.
    writeCached(normal, uri, mtime - 10);
    EXPECT_FALSE(ThumbnailCache::validThumbnail(file, 128, cache));
    writeCached(normal, "file:///elsewhere.jpg", mtime);
    EXPECT_FALSE(ThumbnailCache::validThumbnail(file, 128, cache));
    const QString failed = QDir(cache).filePath("fail/gnome-thumbnail-factory/" + QFileInfo(normal).fileName());
    writeCached(failed, uri, mtime);
    EXPECT_FALSE(ThumbnailCache::validThumbnail(file, 128, cache));

    writeCached(normal, uri, mtime);
    EXPECT_EQ(ThumbnailCache::validThumbnail(file, 128, cache), normal);
    // A large picture serves a larger side first, the normal one when it is all there is.
    EXPECT_EQ(ThumbnailCache::validThumbnail(file, 256, cache), normal);
    const QString large = ThumbnailCache::candidates(cache, uri, 256).first();
    writeCached(large, uri, mtime);
    EXPECT_EQ(ThumbnailCache::validThumbnail(file, 256, cache), large);

    QFile bytes(normal);
    ASSERT_TRUE(bytes.open(QIODevice::ReadOnly));
    const QHash<QString, QString> texts = ThumbnailCache::pngTexts(bytes.readAll());
    EXPECT_EQ(texts.value("Thumb::URI").toLatin1(), uri);
    EXPECT_TRUE(ThumbnailCache::pngTexts("not a png").isEmpty());
    // A chunk claiming more than the file holds ends the reading.
    EXPECT_TRUE(ThumbnailCache::pngTexts(QByteArray("\x89PNG\r\n\x1a\n\x7f\xff\xff\xfftEXtA\0b", 21)).isEmpty());
}

TEST(ThumbnailCache, ACompressedTextBombCostsLittleAndHidesNothing)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("photo.jpg");
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly) && out.write("x") == 1);
    out.close();
    const qint64 mtime = QFileInfo(file).lastModified().toSecsSinceEpoch();
    const QByteArray uri = ThumbnailCache::fileUri(file);
    const QString normal = ThumbnailCache::candidates(dir.filePath("cache"), uri, 128).first();
    writeCached(normal, uri, mtime);
    QFile cached(normal);
    ASSERT_TRUE(cached.open(QIODevice::ReadOnly));
    const QByteArray png = cached.readAll();
    cached.close();

    // Before the file's own texts: zTXt and compressed iTXt chunks that each inflate to 3 MB,
    // as many as the size a cached picture may have holds.
    const auto chunk = [](const QByteArray& type, const QByteArray& data) {
        QByteArray bytes(4, '\0');
        qToBigEndian<quint32>(quint32(data.size()), bytes.data());
        // No reader of the cache looks at the checksum.
        return bytes + type + data + QByteArray(4, '\0');
    };
    const QByteArray bomb = qCompress(QByteArray(3 << 20, 'a'), 9).mid(4);
    ASSERT_LT(bomb.size(), 4000);
    QByteArray bombs;
    for (int i = 0; bombs.size() + 2 * bomb.size() < ThumbnailCache::maximumBytes - png.size(); ++i) {
        const QByteArray keyword = "Comment" + QByteArray::number(i);
        bombs += i % 2 ? chunk("zTXt", keyword + QByteArray(2, '\0') + bomb)
                       : chunk("iTXt", keyword + QByteArray("\0\1\0\0\0", 5) + bomb);
    }
    QByteArray hostile = png.left(33) + bombs + png.mid(33);
    ASSERT_TRUE(cached.open(QIODevice::WriteOnly) && cached.write(hostile) == hostile.size());
    cached.close();

    timespec before{}, after{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &before);
    EXPECT_EQ(ThumbnailCache::validThumbnail(file, 128, dir.filePath("cache")), normal);
    const QHash<QString, QString> texts = ThumbnailCache::pngTexts(hostile);
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &after);
    EXPECT_FALSE(texts.contains("Comment0"));
    EXPECT_EQ(texts.value("Thumb::URI").toLatin1(), uri);
    // Inflating every chunk whole takes many seconds; what is left is a walk over the chunks.
    EXPECT_LT(after.tv_sec - before.tv_sec, 2);

    // The same bombs under the standard's own keyword, before the real one: the picture is not
    // taken, and finding that out costs as little.
    QByteArray named = png.left(33);
    for (int i = 0; named.size() + 2 * bomb.size() < ThumbnailCache::maximumBytes - png.size(); ++i)
        named += chunk("zTXt", (i % 2 ? "Thumb::URI" : "Thumb::Extra" + QByteArray::number(i)) + QByteArray(2, '\0') + bomb);
    hostile = named + png.mid(33);
    ASSERT_TRUE(cached.open(QIODevice::WriteOnly) && cached.write(hostile) == hostile.size());
    cached.close();
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &before);
    EXPECT_FALSE(ThumbnailCache::validThumbnail(file, 128, dir.filePath("cache")));
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &after);
    EXPECT_LT(after.tv_sec - before.tv_sec, 2);
}

TEST(Thumbnailers, KeyFilesCommandsAndTypes)
{
    const auto epub = Thumbnailers::parse("[Thumbnailer Entry]\nTryExec=/usr/bin/true\n"
                                          "Exec=/usr/bin/epub-thumb -s %s %u %o\nMimeType=application/epub+zip;\n");
    ASSERT_TRUE(epub);
    EXPECT_EQ(epub->mimeTypes, QStringList{"application/epub+zip"});
    EXPECT_FALSE(Thumbnailers::parse("[Other]\nExec=x %i %o\nMimeType=text/plain;\n"));
    EXPECT_FALSE(Thumbnailers::parse("[Thumbnailer Entry]\nExec=x %i %o\n"));

    EXPECT_EQ(Thumbnailers::command(epub->exec, "/f/a b.epub", "file:///f/a%20b.epub", "/t/out.png", 256),
              (QStringList{"/usr/bin/epub-thumb", "-s", "256", "file:///f/a%20b.epub", "/t/out.png"}));
    EXPECT_EQ(Thumbnailers::command(R"(thumb "--size=%s px" %i 100%% %o %f)", "/in", "file:///in", "/out", 128),
              (QStringList{"thumb", "--size=128 px", "/in", "100%", "/out", ""}));
    EXPECT_TRUE(Thumbnailers::command(R"(thumb "%i)", "/in", "file:///in", "/out", 128).isEmpty());

    QMimeDatabase types;
    const auto text = Thumbnailers::parse("[Thumbnailer Entry]\nExec=t %i %o\nMimeType=text/plain;\n");
    const auto images = Thumbnailers::parse("[Thumbnailer Entry]\nExec=i %i %o\nMimeType=image/png;image/jpeg;\n");
    const QList<Thumbnailers::Thumbnailer> all{*epub, *text, *images};
    EXPECT_EQ(Thumbnailers::forType(all, types.mimeTypeForName("image/jpeg"))->exec, "i %i %o");
    EXPECT_EQ(Thumbnailers::forType(all, types.mimeTypeForName("application/epub+zip"))->exec, epub->exec);
    EXPECT_EQ(Thumbnailers::forType(all, types.mimeTypeForName("text/plain"))->exec, "t %i %o");
    // A thumbnailer of plain text is not one of every kind of text.
    EXPECT_FALSE(Thumbnailers::forType(all, types.mimeTypeForName("text/x-csrc")));
    EXPECT_FALSE(Thumbnailers::forType(all, types.mimeTypeForName("application/zip")));

    // Installed ones: a user's own first; one whose program is missing left out.
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("user"));
    QDir().mkpath(dir.filePath("system"));
    const auto write = [&](const QString& path, const QByteArray& bytes) {
        QFile file(dir.filePath(path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    write("user/a.thumbnailer", "[Thumbnailer Entry]\nExec=/usr/bin/true %o\nMimeType=image/png;\n");
    write("system/a.thumbnailer", "[Thumbnailer Entry]\nExec=/usr/bin/false %o\nMimeType=image/png;\n");
    write("system/b.thumbnailer", "[Thumbnailer Entry]\nExec=/no/such/program %o\nMimeType=image/gif;\n");
    write("system/c.thumbnailer", "[Thumbnailer Entry]\nTryExec=/no/such\nExec=/usr/bin/true\nMimeType=image/bmp;\n");
    const QList<Thumbnailers::Thumbnailer> installed =
        Thumbnailers::installed({dir.filePath("user"), dir.filePath("system")});
    ASSERT_EQ(installed.size(), 1);
    EXPECT_EQ(installed.first().exec, "/usr/bin/true %o");
}
