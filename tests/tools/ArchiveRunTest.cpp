#include "support/DevDriver.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>

#include <zlib.h>

#include <sys/mount.h>

using namespace qv::test;

namespace {

// Runs `quorvenda-dev ARGS` with settings of its own; returns the last JSON line it printed.
QJsonObject driver(const QStringList& args, const QString& home, int* exitCode = nullptr)
{
    return lastJsonLine(runDevDriver(args, home, exitCode));
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// A zip of files holding size bytes of a repeated byte each, streamed rather than held.
void writeFilledZip(const QString& path, int files, qint64 size)
{
    archive* a = archive_write_new();
    archive_write_set_format_zip(a);
    archive_write_open_filename(a, QFile::encodeName(path).constData());
    for (int i = 0; i < files; ++i) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, QByteArray("f" + QByteArray::number(i) + ".bin").constData());
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, size);
        archive_write_header(a, entry);
        const QByteArray block(64 * 1024, char(i + 1));
        for (qint64 left = size; left > 0; left -= block.size())
            archive_write_data(a, block.constData(), size_t(std::min<qint64>(left, block.size())));
        archive_entry_free(entry);
    }
    archive_write_close(a);
    archive_write_free(a);
}

// The ids of the entries a wheel offers for the file.
QStringList offeredIds(const QString& wheel, const QString& file, const QString& home)
{
    QStringList ids;
    const QJsonObject content = QJsonDocument::fromJson(runDevDriver({QStringLiteral("wheel"), wheel, file}, home)).object();
    for (const QJsonValue& segment : content.value(QStringLiteral("segments")).toArray())
        ids.append(segment.toObject().value(QStringLiteral("id")).toString());
    return ids;
}

} // namespace

TEST(ArchiveRun, ExtractsBesideTheArchiveWithoutOverwriting)
{
    QTemporaryDir dir;
    const QString work = dir.filePath(QStringLiteral("work"));
    writeFile(work + QStringLiteral("/src/a.txt"), "alpha");
    writeFile(work + QStringLiteral("/src/b.txt"), "beta");
    ASSERT_EQ(runProgram(QStringLiteral("sh"), {QStringLiteral("-c"),
                                                QStringLiteral("cd '%1/src' && zip -q ../notes.zip a.txt b.txt").arg(work)}),
              0);
    const QString zip = work + QStringLiteral("/notes.zip");
    const QByteArray before = readFile(zip);

    int code = -1;
    QJsonObject result = driver({QStringLiteral("run"), QStringLiteral("tool.archive.extract"), zip}, dir.path(), &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(result.value(QStringLiteral("state")).toString(), QStringLiteral("finished"));
    EXPECT_EQ(entries(work + QStringLiteral("/notes")), (QStringList{"a.txt", "b.txt"}));
    EXPECT_EQ(readFile(work + QStringLiteral("/notes/b.txt")), "beta");

    result = driver({QStringLiteral("run"), QStringLiteral("tool.archive.extract"), zip}, dir.path());
    EXPECT_EQ(result.value(QStringLiteral("outputs")).toArray().first().toString(), work + QStringLiteral("/notes 2"));
    EXPECT_EQ(readFile(zip), before);

    // Testing reports the count as a message.
    result = driver({QStringLiteral("run"), QStringLiteral("tool.archive.test"), zip}, dir.path());
    EXPECT_EQ(result.value(QStringLiteral("messages")).toArray().first().toString(),
              QStringLiteral("notes.zip is intact \u00B7 2 items"));

    // Unknown operations and missing files are usage errors.
    driver({QStringLiteral("run"), QStringLiteral("tool.archive.nope"), zip}, dir.path(), &code);
    EXPECT_EQ(code, 2);
}

TEST(ArchiveRun, ZipsItemsOfOneNameUnderDistinctNames)
{
    QTemporaryDir dir;
    const QString a = writeFile(dir.filePath(QStringLiteral("a/x.txt")), "first");
    const QString b = writeFile(dir.filePath(QStringLiteral("b/x.txt")), "second");
    int code = -1;
    const QJsonObject result = driver({QStringLiteral("run"), QStringLiteral("tool.folder.zip"), a, b}, dir.path(), &code);
    ASSERT_EQ(code, 0);
    const QString archive = result.value(QStringLiteral("outputs")).toArray().first().toString();
    EXPECT_TRUE(archive.endsWith(QStringLiteral("/Archive.zip")));
    QByteArray listing;
    ASSERT_EQ(runProgram(QStringLiteral("unzip"), {QStringLiteral("-Z1"), archive}, &listing), 0);
    EXPECT_EQ(listing.trimmed().split('\n'), (QList<QByteArray>{"x.txt", "x 2.txt"}));
}

TEST(ArchiveRun, DamagedAndProtectedArchivesLeaveNothingBehind)
{
    QTemporaryDir dir;
    const QString work = dir.filePath(QStringLiteral("work"));
    writeFile(work + QStringLiteral("/secret.txt"), QByteArray(4096, 's'));
    ASSERT_EQ(runProgram(QStringLiteral("sh"), {QStringLiteral("-c"),
                                                QStringLiteral("cd '%1' && zip -q -P pw locked.zip secret.txt && "
                                                               "zip -q -0 whole.zip secret.txt && rm secret.txt").arg(work)}),
              0);
    const QByteArray whole = readFile(work + QStringLiteral("/whole.zip"));
    writeFile(work + QStringLiteral("/cut.zip"), whole.left(whole.size() / 2));
    QFile::remove(work + QStringLiteral("/whole.zip"));

    int code = -1;
    QJsonObject result = driver({QStringLiteral("run"), QStringLiteral("tool.archive.test"),
                                 work + QStringLiteral("/locked.zip")}, dir.path(), &code);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(result.value(QStringLiteral("failure")).toObject().value(QStringLiteral("message")).toString(),
              QStringLiteral("This archive is password-protected"));

    result = driver({QStringLiteral("run"), QStringLiteral("tool.archive.extract"), work + QStringLiteral("/cut.zip")},
                    dir.path(), &code);
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(result.value(QStringLiteral("failure")).toObject().value(QStringLiteral("message")).toString()
                    .startsWith(QStringLiteral("This archive is damaged")));
    EXPECT_EQ(entries(work), (QStringList{"cut.zip", "locked.zip"}));
}

TEST(ArchiveRun, SevenZipAndRarExtract)
{
    QTemporaryDir dir;
    for (const char* name : {"probe.7z", "probe.rar"}) {
        const QString copy = dir.filePath(QString::fromLatin1(name));
        ASSERT_TRUE(QFile::copy(QStringLiteral(QV_SOURCE_DIR "/resources/probes/") + QString::fromLatin1(name), copy));
        int code = -1;
        const QJsonObject result = driver({QStringLiteral("run"), QStringLiteral("tool.archive.extract"), copy},
                                          dir.path(), &code);
        EXPECT_EQ(code, 0) << name;
        const QString output = result.value(QStringLiteral("outputs")).toArray().first().toString();
        EXPECT_FALSE(readFile(output).isEmpty()) << name << " " << output.toStdString();
        QFile::remove(output);
    }
}

TEST(ArchiveRun, ExtractingMoreThanTheDiskHoldsFailsAndLeavesNoTrace)
{
    QTemporaryDir dir;
    const QString disk = dir.filePath(QStringLiteral("disk"));
    ASSERT_TRUE(QDir().mkpath(disk));
    if (::mount("tmpfs", QFile::encodeName(disk).constData(), "tmpfs", 0, "size=40m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    const QString zip = disk + QStringLiteral("/four.zip");
    writeFilledZip(zip, 4, 30 << 20);
    const QByteArray before = readFile(zip);

    int code = -1;
    const QJsonObject result = driver({QStringLiteral("run"), QStringLiteral("tool.archive.extract"), zip},
                                      dir.path(), &code);
    const QStringList left = entries(disk);
    const QByteArray after = readFile(zip);
    ::umount2(QFile::encodeName(disk).constData(), MNT_DETACH);

    EXPECT_EQ(code, 1);
    EXPECT_EQ(result.value(QStringLiteral("state")).toString(), QStringLiteral("failed"));
    EXPECT_EQ(result.value(QStringLiteral("failure")).toObject().value(QStringLiteral("message")).toString(),
              QStringLiteral("There isn't enough free space to extract this archive"));
    EXPECT_EQ(left, QStringList{QStringLiteral("four.zip")}) << "no partial folder, no work folder";
    EXPECT_EQ(after, before);
}

// A solid RAR 4 is read by unar where it is installed, behind the worker's walls; without it
// nothing is offered that libarchive would fail on.
TEST(ArchiveRun, ASolidRar4IsOfferedOnlyWhereUnarReadsIt)
{
    QTemporaryDir dir;
    const QString archive = dir.filePath("solid.rar");
    ASSERT_TRUE(QFile::copy(QStringLiteral(QV_SOURCE_DIR "/tests/files/archives/rar3-solid.rar"), archive));
    const auto offered = [&](const QString& wheel) { return offeredIds(wheel, archive, dir.path()); };

    if (runProgram(QStringLiteral("unar"), {QStringLiteral("-v")}) == 0) {
        EXPECT_TRUE(offered(QStringLiteral("tools")).contains(QStringLiteral("tool.archive.extract")));
        const QJsonObject result = driver({QStringLiteral("run"), QStringLiteral("tool.archive.extract"), archive},
                                          dir.path());
        EXPECT_EQ(stringList(result.value(QStringLiteral("outputs"))), QStringList{dir.filePath("solid")});
        EXPECT_EQ(entries(dir.filePath("solid")), (QStringList{"stest1.txt", "stest2.txt"}));
        // Both files as the archive's listing in rarfile's suite gives them: 2048 bytes, CRC
        // 0xc5b7e6a2.
        for (const char* name : {"stest1.txt", "stest2.txt"}) {
            const QByteArray bytes = readFile(dir.filePath("solid/") + QString::fromLatin1(name));
            EXPECT_EQ(bytes.size(), 2048);
            EXPECT_EQ(crc32(0, reinterpret_cast<const Bytef*>(bytes.constData()), uInt(bytes.size())), 0xc5b7e6a2u);
        }
    }

    qputenv("QUORVENDA_UNAR", "/nonexistent/unar");
    EXPECT_EQ(offered(QStringLiteral("tools")), QStringList{"tool.folder.zip"});
    EXPECT_TRUE(offered(QStringLiteral("convert")).isEmpty());
    qunsetenv("QUORVENDA_UNAR");
}

// A zip packed with Implode is read by unar behind the worker's walls where it is installed;
// without it nothing is offered that libarchive would fail on.
TEST(ArchiveRun, AnImplodedZipIsOfferedOnlyWhereUnarReadsIt)
{
    QTemporaryDir dir;
    const QString archive = dir.filePath("old.zip");
    ASSERT_TRUE(QFile::copy(QStringLiteral(QV_SOURCE_DIR "/tests/files/archives/implode-4k-2trees.zip"), archive));
    const auto offered = [&](const QString& wheel) { return offeredIds(wheel, archive, dir.path()); };

    if (runProgram(QStringLiteral("unar"), {QStringLiteral("-v")}) == 0) {
        EXPECT_TRUE(offered(QStringLiteral("tools")).contains(QStringLiteral("tool.archive.test")));
        const QJsonObject tested =
            driver({QStringLiteral("run"), QStringLiteral("tool.archive.test"), archive}, dir.path());
        EXPECT_EQ(stringList(tested.value(QStringLiteral("messages"))),
                  QStringList{QStringLiteral("old.zip is intact \u00B7 1 item")});
        const QJsonObject result =
            driver({QStringLiteral("run"), QStringLiteral("tool.archive.extract"), archive}, dir.path());
        EXPECT_EQ(stringList(result.value(QStringLiteral("outputs"))), QStringList{dir.filePath("HEADER.txt")});
        // The CRC-32 the zip's directory keeps for it.
        const QByteArray bytes = readFile(dir.filePath("HEADER.txt"));
        EXPECT_EQ(crc32(0, reinterpret_cast<const Bytef*>(bytes.constData()), uInt(bytes.size())), 841144519u);
    }

    qputenv("QUORVENDA_UNAR", "/nonexistent/unar");
    EXPECT_EQ(offered(QStringLiteral("tools")), QStringList{"tool.folder.zip"});
    EXPECT_TRUE(offered(QStringLiteral("convert")).isEmpty());
    qunsetenv("QUORVENDA_UNAR");
}

// Files a 7-Zip archive holds without names come out under the archive's name, and the user is
// told why.
TEST(ArchiveRun, FilesWithoutNamesComeOutUnderTheArchivesNameWithANote)
{
    QTemporaryDir dir;
    const QString archive = dir.filePath("report.7z");
    ASSERT_TRUE(QFile::copy(QStringLiteral(QV_SOURCE_DIR "/tests/files/archives/nameless.7z"), archive));
    const QJsonObject result = driver({QStringLiteral("run"), QStringLiteral("tool.archive.extract"), archive}, dir.path());
    EXPECT_EQ(result.value(QStringLiteral("state")).toString(), QStringLiteral("finished"));
    EXPECT_EQ(stringList(result.value(QStringLiteral("outputs"))), QStringList{dir.filePath("report")});
    EXPECT_EQ(entries(dir.filePath("report")), (QStringList{"report", "report (2)"}));
    EXPECT_EQ(readFile(dir.filePath("report/report (2)")).size(), 610);
    EXPECT_EQ(stringList(result.value(QStringLiteral("messages"))),
              QStringList{QStringLiteral("2 items without names were saved under the archive's name")});
}

// What Extract leaves out reaches the user through the worker's walls, named.
TEST(ArchiveRun, APipeLeftOutIsNamedInANote)
{
    QTemporaryDir dir;
    const QString archive = dir.filePath("pipe.tar");
    struct archive* w = archive_write_new();
    archive_write_set_format_pax_restricted(w);
    ASSERT_EQ(archive_write_open_filename(w, QFile::encodeName(archive).constData()), ARCHIVE_OK);
    for (const char* name : {"fifo", "keep.txt"}) {
        struct archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, name);
        const bool fifo = qstrcmp(name, "fifo") == 0;
        archive_entry_set_filetype(entry, fifo ? AE_IFIFO : AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, fifo ? 0 : 4);
        archive_write_header(w, entry);
        if (!fifo)
            archive_write_data(w, "kept", 4);
        archive_entry_free(entry);
    }
    archive_write_close(w);
    archive_write_free(w);

    const QJsonObject result = driver({QStringLiteral("run"), QStringLiteral("tool.archive.extract"), archive}, dir.path());
    EXPECT_EQ(stringList(result.value(QStringLiteral("outputs"))), QStringList{dir.filePath("keep.txt")});
    EXPECT_EQ(stringList(result.value(QStringLiteral("messages"))),
              QStringList{QStringLiteral("\u201Cfifo\u201D was left out: devices, pipes and sockets are not extracted")});
}
