#include "support/DevDriver.h"
#include "support/FatStick.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

using namespace qv::test;

namespace {

// Every entry below root as a line: its path, kind, mode, time and contents (a file's digest,
// a link's target), and for a file with several names the first of its names in the tree.
// Two trees that give the same lines hold the same entries, linked alike.
QStringList treeLines(const QString& root)
{
    QStringList lines;
    QHash<QPair<dev_t, ino_t>, QString> firstName;
    QStringList pending{QString()};
    while (!pending.isEmpty()) {
        const QString relative = pending.takeFirst();
        const QString folder = relative.isEmpty() ? root : root + QLatin1Char('/') + relative;
        for (const QString& name :
             QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
            const QString inside = relative.isEmpty() ? name : relative + QLatin1Char('/') + name;
            const QString path = root + QLatin1Char('/') + inside;
            struct stat st {};
            if (::lstat(QFile::encodeName(path).constData(), &st) != 0) {
                lines.append(inside + QStringLiteral(" unreadable"));
                continue;
            }
            QString line = inside + QStringLiteral(" %1").arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
            if (S_ISDIR(st.st_mode)) {
                line += QStringLiteral(" folder %1").arg(st.st_mtime);
                pending.append(inside);
            } else if (S_ISLNK(st.st_mode)) {
                const QByteArray target = QFile::encodeName(path);
                char buffer[4096];
                const ssize_t length = ::readlink(target.constData(), buffer, sizeof buffer);
                line = inside + QStringLiteral(" link -> ") + QString::fromUtf8(buffer, int(std::max<ssize_t>(length, 0)));
            } else {
                line += QStringLiteral(" file %1 %2 ").arg(st.st_mtime).arg(st.st_size)
                    + QString::fromLatin1(QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha1).toHex());
                if (st.st_nlink > 1) {
                    const auto key = qMakePair(st.st_dev, st.st_ino);
                    if (firstName.contains(key))
                        line += QStringLiteral(" = ") + firstName.value(key);
                    else
                        firstName.insert(key, inside);
                }
            }
            lines.append(line);
        }
    }
    lines.sort();
    return lines;
}

// bsdtar's extraction of the archive, as an ordinary user's (modes through the umask, no
// owners), in a folder of its own beside it.
QString bsdtarTree(const QString& archive, const QString& into)
{
    if (!QDir().mkpath(into))
        return {};
    if (runProgram(QStringLiteral("bsdtar"), {QStringLiteral("-x"), QStringLiteral("--no-same-owner"),
                                              QStringLiteral("--no-same-permissions"), QStringLiteral("-f"), archive,
                                              QStringLiteral("-C"), into})
        != 0)
        return {};
    // A lone top folder is what Extract places; anything else goes in a folder of its own.
    const QStringList top = QDir(into).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    if (top.size() == 1 && QFileInfo(into + QLatin1Char('/') + top.first()).isDir()
        && !QFileInfo(into + QLatin1Char('/') + top.first()).isSymLink())
        return into + QLatin1Char('/') + top.first();
    return into;
}

struct Extracted {
    DriverRun run;
    QString placed;
};

Extracted extract(const QString& archive, const QString& home)
{
    Extracted result;
    result.run = runDriverJob({QStringLiteral("tool.archive.extract"), archive}, home);
    if (!result.run.outputs().isEmpty())
        result.placed = result.run.outputs().first();
    return result;
}

// Extracts the archive and compares what was placed with bsdtar's tree of it, entry by entry
// but for the top folder's own time, which is the archive's.
void expectSameTreeAsBsdtar(const QString& archive, const QString& home, const QString& scratch, QString* placed = nullptr)
{
    const Extracted ours = extract(archive, home);
    ASSERT_EQ(ours.run.code, 0) << ours.run.failure().toStdString();
    if (placed)
        *placed = ours.placed;
    const QString theirs = bsdtarTree(archive, scratch);
    ASSERT_FALSE(theirs.isEmpty());
    const QStringList ourLines = treeLines(ours.placed);
    const QStringList theirLines = treeLines(theirs);
    EXPECT_EQ(ourLines.size(), theirLines.size());
    for (qsizetype i = 0; i < std::min(ourLines.size(), theirLines.size()); ++i) {
        if (ourLines[i] != theirLines[i]) {
            ADD_FAILURE() << "first difference: " << ourLines[i].toStdString() << " / " << theirLines[i].toStdString();
            break;
        }
    }
}

int shell(const QString& script)
{
    return runProgram(QStringLiteral("sh"), {QStringLiteral("-c"), script});
}

} // namespace

// A home folder's backup: hard links across folders, an executable, a link inside, an empty
// folder, a name with a colon; and libarchive's RAR 5 archives of hard links and Unicode names.
TEST(ExtractedTreeRun, ArchivesWithHardLinksAndUnicodeNamesGiveBsdtarsTree)
{
    QTemporaryDir dir;
    const QString work = dir.filePath(QStringLiteral("work"));
    ASSERT_EQ(shell(QStringLiteral("set -e; mkdir -p '%1/home/docs/old' '%1/home/bin' '%1/home/empty'; cd '%1/home';"
                                   " printf 'notes' > docs/a.txt; ln docs/a.txt docs/old/b.txt; ln docs/a.txt bin/c.txt;"
                                   " printf '#!/bin/sh\\n' > bin/run.sh; chmod 755 bin/run.sh; printf 'x' > 'docs/10:30.txt';"
                                   " ln -s ../docs/a.txt bin/notes; touch -d 2001-02-03 docs/a.txt bin/run.sh;"
                                   " cd ..; tar czf backup.tar.gz home; rm -r home")
                        .arg(work)),
              0);
    QString placed;
    expectSameTreeAsBsdtar(work + QStringLiteral("/backup.tar.gz"), dir.path(), dir.filePath(QStringLiteral("bsdtar-1")), &placed);
    EXPECT_EQ(placed, work + QStringLiteral("/home"));
    // The three names of a.txt are one file in the result too.
    struct stat a {}, c {};
    ASSERT_EQ(::stat(QFile::encodeName(placed + QStringLiteral("/docs/a.txt")).constData(), &a), 0);
    ASSERT_EQ(::stat(QFile::encodeName(placed + QStringLiteral("/bin/c.txt")).constData(), &c), 0);
    EXPECT_EQ(a.st_ino, c.st_ino);
    EXPECT_EQ(a.st_nlink, 3u);

    for (const char* name : {"rar5-hardlink.rar", "rar5-unicode.rar"}) {
        const QString archive = dir.filePath(QString::fromLatin1(name));
        ASSERT_TRUE(QFile::copy(QStringLiteral(QV_SOURCE_DIR "/tests/files/archives/") + QString::fromLatin1(name), archive));
        expectSameTreeAsBsdtar(archive, dir.path(), dir.filePath(QStringLiteral("bsdtar-") + QString::fromLatin1(name)));
    }
}

// Many entries and deep folders are what the disk holds, not a fixed bound.
TEST(ExtractedTreeRun, ManyEntriesAndDeepFoldersGiveBsdtarsTree)
{
    QTemporaryDir dir;
    const QString work = dir.filePath(QStringLiteral("work"));
    ASSERT_EQ(shell(QStringLiteral("set -e; mkdir -p '%1/many'; cd '%1/many'; for d in $(seq 1 12); do mkdir f$d;"
                                   " (cd f$d && seq 1 1000 | xargs touch); done; cd ..; tar cf many.tar many;"
                                   " p=deep; for i in $(seq 1 200); do p=$p/d; done; mkdir -p $p; echo bottom > $p/end.txt;"
                                   " tar cf deep.tar deep; mkdir -p implied/a/b/c implied/x/y; echo 1 > implied/a/b/c/one.txt;"
                                   " echo 2 > implied/x/y/two.txt;"
                                   " tar cf implied.tar --no-recursion implied/a/b/c/one.txt implied/x/y/two.txt")
                        .arg(work)),
              0);
    expectSameTreeAsBsdtar(work + QStringLiteral("/many.tar"), dir.path(), dir.filePath(QStringLiteral("bsdtar-many")));
    expectSameTreeAsBsdtar(work + QStringLiteral("/deep.tar"), dir.path(), dir.filePath(QStringLiteral("bsdtar-deep")));
    // Folders the listing leaves out are the extraction's own entries, counted with the rest.
    const Extracted implied = extract(work + QStringLiteral("/implied.tar"), dir.path());
    ASSERT_EQ(implied.run.code, 0) << implied.run.failure().toStdString();
    EXPECT_EQ(readFile(implied.placed + QStringLiteral("/a/b/c/one.txt")), "1\n");
    EXPECT_EQ(readFile(implied.placed + QStringLiteral("/x/y/two.txt")), "2\n");
}

// The smallest tar is one header without end blocks, which tar programs read; a RAR volume set
// with a part missing names it.
TEST(ExtractedTreeRun, ASingleHeaderTarExtractsAndAMissingVolumeIsNamed)
{
    QTemporaryDir dir;
    ASSERT_EQ(shell(QStringLiteral("set -e; cd '%1'; touch empty; tar --format=ustar -cf full.tar empty; rm empty;"
                                   " head -c 512 full.tar > minimal.tar; rm full.tar")
                        .arg(dir.path())),
              0);
    ASSERT_EQ(QFileInfo(dir.filePath(QStringLiteral("minimal.tar"))).size(), 512);
    const Extracted minimal = extract(dir.filePath(QStringLiteral("minimal.tar")), dir.path());
    EXPECT_EQ(minimal.run.code, 0) << minimal.run.failure().toStdString();
    EXPECT_EQ(minimal.placed, dir.filePath(QStringLiteral("empty")));
    EXPECT_EQ(QFileInfo(minimal.placed).size(), 0);

    const QString first = dir.filePath(QStringLiteral("set.part01.rar"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(QV_SOURCE_DIR "/tests/files/volumes/rar5-first-volume.rar"), first));
    const Extracted missing = extract(first, dir.path());
    EXPECT_EQ(missing.run.code, 1);
    EXPECT_EQ(missing.run.failure(), QStringLiteral("A part of this multi-part archive is missing: \u201Cset.part02.rar\u201D"));
}

// A FAT disk refuses some characters, has no links and keeps no modes: names take "_" in their
// place, twins that FAT folds together are both kept, links become copies, and a note says so.
TEST(ExtractedTreeRun, AFatDiskTakesRenamedEntriesAndCopiesOfLinks)
{
    const FatStick fat;
    if (!fat.isMounted())
        GTEST_SKIP() << qPrintable(fat.whyNot());
    QTemporaryDir dir;
    const QString stick = fat.path();
    ASSERT_EQ(shell(QStringLiteral("set -e; mkdir -p '%1/src/trip'; cd '%1/src/trip'; printf one > 'at 10:30?.txt';"
                                   " printf upper > Notes.txt; printf lower > notes.txt; printf data > a.txt; ln a.txt b.txt;"
                                   " ln -s a.txt c.txt; cd ..; tar cf '%2/trip.tar' trip")
                        .arg(dir.path(), stick)),
              0);
    const Extracted ours = extract(stick + QStringLiteral("/trip.tar"), dir.path());
    ASSERT_EQ(ours.run.code, 0) << ours.run.failure().toStdString();
    EXPECT_EQ(ours.placed, stick + QStringLiteral("/trip"));
    const auto text = [&](const char* name) { return readFile(ours.placed + QLatin1Char('/') + QString::fromUtf8(name)); };
    EXPECT_EQ(text("at 10_30_.txt"), "one");
    EXPECT_EQ(text("a.txt"), "data");
    EXPECT_EQ(text("b.txt"), "data");
    EXPECT_EQ(text("c.txt"), "data");
    // FAT folds the case of names: the twin that came second is kept beside the first.
    const QByteArray notes = text("Notes.txt");
    const QByteArray twin = text("notes (2).txt").isEmpty() ? text("Notes (2).txt") : text("notes (2).txt");
    EXPECT_EQ(QSet<QByteArray>({notes, twin}), QSet<QByteArray>({"upper", "lower"}));
    const QString messages = ours.run.messages().join(QLatin1Char('\n'));
    EXPECT_TRUE(messages.contains(QStringLiteral("\u201Ctrip/at 10:30?.txt\u201D as \u201Ctrip/at 10_30_.txt\u201D"))) << messages.toStdString();
    EXPECT_TRUE(messages.contains(QStringLiteral("saved as copies of what they link to: this disk has no links")))
        << messages.toStdString();
    // A lone file is placed too, though the stick refuses every chmod.
    ASSERT_EQ(runProgram(QStringLiteral("convert"), {QStringLiteral("-size"), QStringLiteral("8x8"), QStringLiteral("xc:red"),
                                                     stick + QStringLiteral("/red.png")}),
              0);
    const DriverRun picture = runDriverJob({QStringLiteral("convert.image.jpg"), stick + QStringLiteral("/red.png")}, dir.path());
    EXPECT_EQ(picture.outputs(), QStringList{stick + QStringLiteral("/red.jpg")}) << picture.failure().toStdString();
    // Nothing of the work is left on the stick.
    EXPECT_EQ(QDir(stick).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
              (QStringList{QStringLiteral("red.jpg"), QStringLiteral("red.png"), QStringLiteral("trip"), QStringLiteral("trip.tar")}));
}
