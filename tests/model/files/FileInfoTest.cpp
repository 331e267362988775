#include "model/files/FileInfo.h"
#include "model/files/FileProbe.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonValue>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <algorithm>
#include <thread>
#include <vector>

using namespace qv;
using namespace qv::test;

namespace {

void expectSplit(const char* name, const char* base, const char* ext)
{
    const SplitName split = splitFileName(QString::fromUtf8(name));
    EXPECT_EQ(split.baseName, QString::fromUtf8(base)) << name;
    EXPECT_EQ(split.ext, QString::fromUtf8(ext)) << name;
}

FileInfo infoFor(const QString& path)
{
    return fileInfoForURL(QUrl::fromLocalFile(path));
}

// Answers no question at all, as for a file that cannot be read.
class UnreadableProbe : public FileProbe {
public:
    mutable int pdfChecks = 0;
    std::optional<ItemStatus> status(const QString&) const override { return std::nullopt; }
    std::optional<QString> realPath(const QString&) const override { return std::nullopt; }
    std::optional<bool> pdfNeedsPassword(const QString&) const override
    {
        ++pdfChecks;
        return std::nullopt;
    }
    std::optional<int> imageFrameCount(const QString&) const override { return std::nullopt; }
};

// A regular file of any name whose streams say `streams`; counts the questions.
class StreamsProbe : public UnreadableProbe {
public:
    explicit StreamsProbe(std::optional<MediaStreams> streams, QString contentType = {})
        : m_streams(streams), m_contentType(std::move(contentType))
    {
    }
    mutable QStringList asked;
    std::optional<ItemStatus> status(const QString&) const override
    {
        ItemStatus status;
        status.size = 1000;
        if (!m_contentType.isEmpty())
            status.contentType = m_contentType;
        return status;
    }
    std::optional<MediaStreams> mediaStreams(const QString& path) const override
    {
        asked.append(QFileInfo(path).fileName());
        return m_streams;
    }

private:
    std::optional<MediaStreams> m_streams;
    QString m_contentType;
};

const MediaStreams soundAlone{false, true};
const MediaStreams silentPictures{true, false};

FileInfo described(const char* name, const FileProbe& probe)
{
    return fileInfoForURL(QUrl::fromLocalFile(QStringLiteral("/media/") + QLatin1String(name)), probe);
}

FileCategory categoryOf(const char* name, const FileProbe& probe)
{
    return described(name, probe).category;
}

} // namespace

TEST(FileInfo, ContainersOfSoundOrPicturesFollowTheirStreams)
{
    const StreamsProbe sound(soundAlone);
    EXPECT_EQ(categoryOf("voice.webm", sound), FileCategory::audio);
    EXPECT_EQ(categoryOf("memo.3gp", sound), FileCategory::audio);
    EXPECT_EQ(categoryOf("memo.3g2", sound), FileCategory::audio);
    EXPECT_EQ(categoryOf("song.MP4", sound), FileCategory::audio);
    EXPECT_EQ(categoryOf("album.mkv", sound), FileCategory::audio);
    // Names that tell the category keep it; sound files and other kinds are never probed.
    EXPECT_EQ(categoryOf("film.m4v", sound), FileCategory::video);
    EXPECT_EQ(categoryOf("film.avi", sound), FileCategory::video);
    EXPECT_EQ(categoryOf("song.mp3", sound), FileCategory::audio);
    EXPECT_EQ(categoryOf("photo.jpg", sound), FileCategory::image);
    EXPECT_EQ(sound.asked,
              (QStringList{"voice.webm", "memo.3gp", "memo.3g2", "song.MP4", "album.mkv", "film.m4v", "film.avi"}));

    // No answer leaves the name's category; an answer of neither (a sound no decoder reads
    // whole) leaves nothing any media entry can use.
    EXPECT_EQ(categoryOf("clip.webm", StreamsProbe(std::nullopt)), FileCategory::video);
    EXPECT_EQ(categoryOf("clip.webm", StreamsProbe(MediaStreams{})), FileCategory::other);
    EXPECT_EQ(categoryOf("clip.mp4", StreamsProbe(MediaStreams{})), FileCategory::other);
    EXPECT_EQ(categoryOf("song.m4a", StreamsProbe(MediaStreams{})), FileCategory::other);
    EXPECT_EQ(categoryOf("tone.m4r", StreamsProbe(MediaStreams{})), FileCategory::other);
    EXPECT_EQ(categoryOf("song.m4a", StreamsProbe(std::nullopt)), FileCategory::audio);
    EXPECT_EQ(categoryOf("clip.webm", StreamsProbe(silentPictures)), FileCategory::video);
}

TEST(FileInfo, AVideosSoundIsKnownOnlyWhenLookedInto)
{
    EXPECT_EQ(described("screen.mp4", StreamsProbe(silentPictures)).hasAudio, false);
    EXPECT_EQ(described("screen.avi", StreamsProbe(silentPictures)).hasAudio, false);
    EXPECT_EQ(described("film.mov", StreamsProbe(MediaStreams{true, true})).hasAudio, true);
    EXPECT_EQ(described("voice.webm", StreamsProbe(soundAlone)).hasAudio, true);
    EXPECT_EQ(described("film.mov", StreamsProbe(std::nullopt)).hasAudio, std::nullopt);
    EXPECT_EQ(described("song.mp3", StreamsProbe(silentPictures)).hasAudio, std::nullopt);
    // A video the catalogue knows by its content type alone is looked into as well.
    const StreamsProbe mng(silentPictures, QStringLiteral("video/x-mng"));
    const FileInfo animation = described("animation.mng", mng);
    EXPECT_EQ(animation.category, FileCategory::video);
    EXPECT_EQ(animation.hasAudio, false);
    EXPECT_EQ(mng.asked, QStringList{"animation.mng"});
    const FileInfo film = described("film.mov", StreamsProbe(silentPictures));
    EXPECT_EQ(film.toJson().value("hasAudio"), QJsonValue(false));
    EXPECT_TRUE(described("song.mp3", StreamsProbe(silentPictures)).toJson().value("hasAudio").isNull());
}

TEST(FileInfo, SplitsNames)
{
    expectSplit("x.TAR.GZ", "x", "tar.gz");
    expectSplit("Backup.tar.bz2", "Backup", "tar.bz2");
    expectSplit("a.b.tar.xz", "a.b", "tar.xz");
    expectSplit("logs.tar.zst", "logs.tar", "zst");
    expectSplit(".tar.gz", ".tar", "gz");
    expectSplit("Photo.JPEG", "Photo", "jpeg");
    expectSplit("README", "README", "");
    expectSplit(".bashrc", ".bashrc", "");
    expectSplit("trailing.", "trailing.", "");
    expectSplit("Café Menu.PDF", "Café Menu", "pdf");
}

TEST(FileInfo, MissingFilesTakeWhatTheNameSays)
{
    const FileInfo archive = infoFor(QStringLiteral("/nonexistent/x.TAR.GZ"));
    EXPECT_EQ(archive.name, QStringLiteral("x.TAR.GZ"));
    EXPECT_EQ(archive.baseName, QStringLiteral("x"));
    EXPECT_EQ(archive.ext, QStringLiteral("tar.gz"));
    EXPECT_EQ(archive.format->id, QStringLiteral("tar.gz"));
    EXPECT_EQ(archive.category, FileCategory::archive);
    EXPECT_EQ(archive.size, 0);
    EXPECT_FALSE(archive.contentType);
    EXPECT_FALSE(archive.isDirectory);

    const FileInfo jpeg = infoFor(QStringLiteral("/nonexistent/Photo.JPEG"));
    EXPECT_EQ(jpeg.ext, QStringLiteral("jpeg"));
    EXPECT_EQ(jpeg.format->id, QStringLiteral("jpg"));
    EXPECT_EQ(jpeg.category, FileCategory::image);

    EXPECT_EQ(infoFor(QStringLiteral("/nonexistent/data.unknownext")).category, FileCategory::other);

    // Unreadable, yet a .pdf is still a PDF and is still tested for a lock.
    UnreadableProbe probe;
    const FileInfo pdf = fileInfoForURL(QUrl::fromLocalFile(QStringLiteral("/x/doc.pdf")), probe);
    EXPECT_EQ(pdf.category, FileCategory::pdf);
    EXPECT_EQ(probe.pdfChecks, 1);
    EXPECT_FALSE(pdf.isEncrypted);
}

TEST(FileInfo, TheNameAloneTellsTheFormatAndNothingOfTheDisk)
{
    // Without a probe at all: nothing is asked of the disk.
    const FileInfo photo = fileInfoFromName(QUrl::fromLocalFile(QStringLiteral("/nonexistent/Café 1.HEIC")));
    EXPECT_EQ(photo.name, QStringLiteral("Café 1.HEIC"));
    EXPECT_EQ(photo.baseName, QStringLiteral("Café 1"));
    EXPECT_EQ(photo.ext, QStringLiteral("heic"));
    EXPECT_EQ(photo.format->id, QStringLiteral("heic"));
    EXPECT_EQ(photo.category, FileCategory::image);
    EXPECT_FALSE(photo.contentType);

    const FileInfo slashed = fileInfoFromName(QUrl(QStringLiteral("file:///srv/Backups.tar.gz/")));
    EXPECT_EQ(slashed.name, QStringLiteral("Backups.tar.gz"));
    EXPECT_EQ(slashed.category, FileCategory::archive);
    EXPECT_EQ(fileInfoFromName(QUrl::fromLocalFile(QStringLiteral("/srv/README"))).category, FileCategory::other);

    // For a real file of a known kind it agrees with the full description, bar what the disk says.
    QTemporaryDir dir;
    const QString path = test::writeFile(dir.filePath(QStringLiteral("notes.md")), "# Notes\n");
    FileInfo full = fileInfoForURL(QUrl::fromLocalFile(path));
    full.size = 0;
    full.contentType.reset();
    EXPECT_EQ(fileInfoFromName(QUrl::fromLocalFile(path)), full);
}

TEST(FileInfo, NamesReadOnSeveralThreadsInAnyMixOfExtensionsAgree)
{
    // More extensions than a thread keeps at hand, in several spellings, on several threads.
    const QStringList exts{QStringLiteral("jpg"), QStringLiteral("JPG"), QStringLiteral("Png"), QStringLiteral("pdf"),
                           QStringLiteral("mp4"), QStringLiteral("MOV"), QStringLiteral("docx"), QStringLiteral("md"),
                           QStringLiteral("txt"), QStringLiteral("csv"), QStringLiteral("xlsx"), QStringLiteral("zip"),
                           QStringLiteral("TAR.GZ"), QStringLiteral("tar.xz"), QStringLiteral("srt"), QStringLiteral("wav"),
                           QStringLiteral("flac"), QStringLiteral("heic"), QStringLiteral("webp"), QStringLiteral("nope"),
                           QStringLiteral("epub"), QStringLiteral("gz")};
    QList<QUrl> urls;
    for (int i = 0; i < 600; ++i)
        urls.append(QUrl::fromLocalFile(QStringLiteral("/srv/in %1/File %2.%3").arg(i % 7).arg(i).arg(exts[(i * 7) % exts.size()])));
    QList<FileInfo> expected;
    for (const QUrl& url : urls) {
        FileInfo info;
        info.url = url;
        info.name = url.fileName();
        const SplitName split = splitFileName(info.name);
        info.baseName = split.baseName;
        info.ext = split.ext;
        info.format = formatForExtension(split.ext);
        if (info.format)
            info.category = info.format->category;
        expected.append(info);
    }
    QList<QList<FileInfo>> seen(4);
    {
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&, t] {
                for (qsizetype i = t; i < urls.size(); i += 2)
                    seen[t].append(fileInfoFromName(urls[i]));
            });
        }
        for (std::thread& thread : threads)
            thread.join();
    }
    for (int t = 0; t < 4; ++t) {
        for (qsizetype i = t, k = 0; i < urls.size(); i += 2, ++k)
            ASSERT_EQ(seen[t][k], expected[i]) << qPrintable(urls[i].toString());
    }
    EXPECT_EQ(expected[0].ext, QStringLiteral("jpg"));
    EXPECT_TRUE(std::any_of(expected.begin(), expected.end(),
                            [](const FileInfo& f) { return f.ext == QLatin1String("tar.gz") && f.format; }));
}

TEST(FileInfo, FoldersPackagesAndLinks)
{
    QTemporaryDir dir;
    const QString root = dir.path();
    QDir(root).mkpath(QStringLiteral("Plain"));
    QDir(root).mkpath(QStringLiteral("Looks like.zip"));
    QDir(root).mkpath(QStringLiteral("Notes.rtfd"));
    QDir(root).mkpath(QStringLiteral("Tool.app"));
    QFile::link(root + QStringLiteral("/Plain"), root + QStringLiteral("/Shortcut"));
    writeFile(root + QStringLiteral("/README"), "Just some plain text.\n");

    const FileInfo plain = infoFor(root + QStringLiteral("/Plain"));
    EXPECT_EQ(plain.category, FileCategory::folder);
    EXPECT_TRUE(plain.isDirectory);
    EXPECT_FALSE(plain.format);
    EXPECT_EQ(plain.size, 0);

    const FileInfo zipFolder = infoFor(root + QStringLiteral("/Looks like.zip"));
    EXPECT_EQ(zipFolder.format->id, QStringLiteral("zip"));
    EXPECT_EQ(zipFolder.category, FileCategory::folder);
    EXPECT_TRUE(zipFolder.isDirectory);

    const FileInfo rtfd = infoFor(root + QStringLiteral("/Notes.rtfd"));
    EXPECT_EQ(rtfd.category, FileCategory::document);
    EXPECT_FALSE(rtfd.isDirectory);

    const FileInfo app = infoFor(root + QStringLiteral("/Tool.app"));
    EXPECT_EQ(app.category, FileCategory::folder);
    EXPECT_TRUE(app.isDirectory);

    const FileInfo link = infoFor(root + QStringLiteral("/Shortcut"));
    EXPECT_EQ(link.category, FileCategory::folder);
    EXPECT_TRUE(link.isDirectory);
    EXPECT_EQ(link.name, QStringLiteral("Shortcut"));
    EXPECT_EQ(link.url, QUrl::fromLocalFile(root + QStringLiteral("/Shortcut")));

    // File managers may hand a folder over with a final "/": the name is still the folder's.
    const QUrl slashed = QUrl::fromLocalFile(root + QStringLiteral("/Looks like.zip/"));
    const FileInfo slashedFolder = fileInfoForURL(slashed);
    EXPECT_EQ(slashedFolder.name, QStringLiteral("Looks like.zip"));
    EXPECT_EQ(slashedFolder.baseName, QStringLiteral("Looks like"));
    EXPECT_EQ(slashedFolder.category, FileCategory::folder);
    EXPECT_EQ(slashedFolder.url, slashed);

    const FileInfo text = infoFor(root + QStringLiteral("/README"));
    EXPECT_EQ(text.ext, QString());
    EXPECT_EQ(text.category, FileCategory::document);
    EXPECT_TRUE(text.contentType->startsWith(QStringLiteral("text/")));
    EXPECT_EQ(text.size, 22);
}

TEST(FileInfo, PipesAreDescribedWithoutBeingOpened)
{
    // Reading a pipe waits for a writer that never comes: these would hang.
    QTemporaryDir dir;
    const QString plain = dir.filePath(QStringLiteral("pipe"));
    const QString pdf = dir.filePath(QStringLiteral("pipe.pdf"));
    const QString gif = dir.filePath(QStringLiteral("pipe.gif"));
    for (const QString& path : {plain, pdf, gif})
        ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);

    const FileInfo unnamed = infoFor(plain);
    EXPECT_EQ(unnamed.category, FileCategory::other);
    EXPECT_EQ(unnamed.contentType, QStringLiteral("inode/fifo"));
    // Whatever the name says, a pipe is no document or picture.
    EXPECT_EQ(infoFor(pdf).category, FileCategory::other);
    EXPECT_EQ(infoFor(pdf).contentType, QStringLiteral("inode/fifo"));
    EXPECT_FALSE(infoFor(pdf).isEncrypted);
    EXPECT_EQ(infoFor(gif).category, FileCategory::other);
    EXPECT_EQ(infoFor(gif).frameCount, 1);
}

TEST(FileInfo, PromisedFiles)
{
    const FileInfo movie =
        promisedFileInfo(QStringLiteral("Clip.mov"), QStringLiteral("com.apple.quicktime-movie"));
    EXPECT_EQ(movie.ext, QStringLiteral("mov"));
    EXPECT_EQ(movie.category, FileCategory::video);
    EXPECT_EQ(movie.size, 0);
    EXPECT_TRUE(movie.isPromise);
    EXPECT_EQ(movie.contentType, QStringLiteral("com.apple.quicktime-movie"));

    const FileInfo unnamed = promisedFileInfo(QString(), QStringLiteral("public.jpeg"));
    EXPECT_EQ(unnamed.url.fileName(), QStringLiteral("Promised File"));
    EXPECT_EQ(unnamed.name, QString());
    EXPECT_EQ(unnamed.ext, QStringLiteral("jpg"));
    EXPECT_EQ(unnamed.category, FileCategory::image);

    EXPECT_EQ(promisedFileInfo(QStringLiteral("shot.jpeg"), QString()).ext, QStringLiteral("jpg"));

    const FileInfo mime = promisedFileInfo(QStringLiteral("download"), QStringLiteral("image/png"));
    EXPECT_EQ(mime.ext, QStringLiteral("png"));
    EXPECT_EQ(mime.format->id, QStringLiteral("png"));

    // A name from another application never places the promise outside the temporary folder.
    const FileInfo climbing = promisedFileInfo(QStringLiteral("../../evil.jpg"), QString());
    EXPECT_EQ(climbing.url.adjusted(QUrl::RemoveFilename),
              QUrl::fromLocalFile(QDir::tempPath() + QLatin1Char('/')));
    EXPECT_EQ(climbing.name, QStringLiteral("../../evil.jpg"));
    EXPECT_EQ(promisedFileInfo(QStringLiteral(".."), QString()).url.fileName(),
              QStringLiteral("Promised File"));

    const FileInfo unknown = promisedFileInfo(QStringLiteral("blob.xyz"), QStringLiteral("x/unknown"));
    EXPECT_EQ(unknown.ext, QStringLiteral("xyz"));
    EXPECT_EQ(unknown.category, FileCategory::other);
}

namespace {

// A regular file of the given MIME type.
class SniffedProbe : public UnreadableProbe {
public:
    explicit SniffedProbe(QString type) : m_type(std::move(type)) {}
    std::optional<ItemStatus> status(const QString&) const override
    {
        ItemStatus status;
        status.size = 766;
        status.contentType = m_type;
        return status;
    }

private:
    QString m_type;
};

} // namespace

TEST(FileInfo, APictureNoDecoderHereReadsIsOfferedNoPictureEntries)
{
    EXPECT_EQ(categoryOf("pointer.cur", SniffedProbe("image/x-win-bitmap")), FileCategory::other);
    for (const char* type : {"image/wmf", "image/emf", "image/vnd.wap.wbmp", "image/x-xwindowdump"})
        EXPECT_EQ(categoryOf("drawing.unknown", SniffedProbe(type)), FileCategory::other) << type;
    EXPECT_EQ(categoryOf("scan.unknown", SniffedProbe("image/x-portable-pixmap")), FileCategory::image);
}

// Only what its name says holds a lock, frames or streams is looked at ahead, and one file alone
// is not.
TEST(FileInfo, ALookAheadNamesThePdfsAndPicturesThatMayHoldFrames)
{
    class AheadProbe : public UnreadableProbe {
    public:
        mutable QList<QStringList> seen;
        void lookAhead(const FilesAhead& files) const override
        {
            seen.append(files.pdfs);
            seen.append(files.animations);
            seen.append(files.media);
        }
    } probe;
    const auto urls = [](std::initializer_list<const char*> paths) {
        QList<QUrl> list;
        for (const char* path : paths)
            list.append(QUrl::fromLocalFile(QString::fromUtf8(path)));
        return list;
    };
    lookAheadAtFiles(urls({"/a/one.PDF", "/a/two.pdf", "/a/still.jpg", "/a/moving.gif", "/a/notes.txt",
                           "/a/clip.mov", "/a/song.mp3"}),
                     probe);
    ASSERT_EQ(probe.seen.size(), 3);
    EXPECT_EQ(probe.seen[0], QStringList({QStringLiteral("/a/one.PDF"), QStringLiteral("/a/two.pdf")}));
    EXPECT_EQ(probe.seen[1], QStringList({QStringLiteral("/a/moving.gif")}));
    EXPECT_EQ(probe.seen[2], QStringList({QStringLiteral("/a/clip.mov")}));
    lookAheadAtFiles(urls({"/a/one.pdf", "/a/still.jpg"}), probe);
    EXPECT_EQ(probe.seen.size(), 3);
}
