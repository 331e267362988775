#include "app/actions/QuickActionRules.h"
#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"
#include "model/files/FileProbe.h"
#include "platform/settings/SettingsStore.h"
#include "support/SmallDisk.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qv;

namespace {

QList<QUrl> files(const QStringList& paths)
{
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls.append(QUrl::fromLocalFile(path));
    return urls;
}

QStringList titles(const QList<MenuEntry>& entries)
{
    QStringList out;
    for (const MenuEntry& entry : entries)
        out.append(entry.isSeparator ? QStringLiteral("-") : entry.title);
    return out;
}

dev_t deviceOf(const QString& path)
{
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_dev;
}

void setModified(const QString& path, time_t seconds)
{
    const timespec times[2] = {{seconds, 0}, {seconds, 250000000}};
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW);
}

// A folder as a user keeps one: old dates everywhere, a script, a read-only file, an empty
// folder, links, a name that is not UTF-8 and one file big enough to fill a small disk.
QString makeProject(const QString& root, qint64 bigBytes = 0)
{
    const QString folder = root + QStringLiteral("/Project");
    test::writeFile(folder + QStringLiteral("/src/main.c"), "int main() {}\n");
    test::writeFile(folder + QStringLiteral("/run.sh"), "#!/bin/sh\n");
    ::chmod(QFile::encodeName(folder + QStringLiteral("/run.sh")).constData(), 0755);
    test::writeFile(folder + QStringLiteral("/LICENSE"), "keep as is");
    ::chmod(QFile::encodeName(folder + QStringLiteral("/LICENSE")).constData(), 0444);
    QDir().mkpath(folder + QStringLiteral("/build"));
    ::symlink("src/main.c", QFile::encodeName(folder + QStringLiteral("/main.c")).constData());
    const QByteArray latin1 = QFile::encodeName(folder) + "/r\xe9sum\xe9.txt";
    if (FILE* file = std::fopen(latin1.constData(), "wb")) {
        std::fputs("cv", file);
        std::fclose(file);
    }
    if (bigBytes > 0)
        test::writeFile(folder + QStringLiteral("/video.raw"), QByteArray(bigBytes, 'v'));
    time_t when = 1300000000;
    for (const QString& name : {QStringLiteral("/src/main.c"), QStringLiteral("/run.sh"),
                                QStringLiteral("/LICENSE"), QStringLiteral("/main.c"),
                                QStringLiteral("/src"), QStringLiteral("/build"), QString()})
        setModified(folder + name, when += 1000);
    const timespec old[2] = {{1300000000, 0}, {1300000000, 0}};
    ::utimensat(AT_FDCWD, latin1.constData(), old, 0);
    setModified(folder, 1310000000);
    return folder;
}

// The job's message for what moveIntoFolder throws.
template <typename F>
QString failureOf(F&& run)
{
    try {
        run();
    } catch (const EngineError& error) {
        return error.message();
    } catch (const SystemError& error) {
        return QStringLiteral("errno %1").arg(error.code());
    } catch (...) {
        return QStringLiteral("other");
    }
    return QStringLiteral("moved");
}

} // namespace

TEST(CopyPath, EscapesOnlyWhatAShellWouldSplitOrExpand)
{
    EXPECT_EQ(shellEscapedPath(QStringLiteral("/a/B_9.-+,:@%x")), QStringLiteral("/a/B_9.-+,:@%x"));
    EXPECT_EQ(shellEscapedPath(QStringLiteral("/tmp/a b.txt")), QStringLiteral("'/tmp/a b.txt'"));
    EXPECT_EQ(shellEscapedPath(QStringLiteral("/tmp/it's.txt")), QStringLiteral("'/tmp/it'\\''s.txt'"));
    // Accented letters, precomposed or with a combining mark, and other scripts need no quotes.
    EXPECT_EQ(shellEscapedPath(QStringLiteral("/tmp/café.txt")), QStringLiteral("/tmp/café.txt"));
    EXPECT_EQ(shellEscapedPath(QStringLiteral("/tmp/cafe\u0301")), QStringLiteral("/tmp/cafe\u0301"));
    EXPECT_EQ(shellEscapedPath(QStringLiteral("/tmp/日本")), QStringLiteral("/tmp/日本"));
    for (const char* risky : {"/a$b", "/a*b", "/a;b", "/a`b", "/a\"b", "/a\\b", "/a\nb", "/a~b", "/a!b"})
        EXPECT_EQ(shellEscapedPath(QString::fromUtf8(risky)).front(), QLatin1Char('\'')) << risky;
    EXPECT_EQ(shellEscapedPath(QString()), QStringLiteral("''"));

    EXPECT_EQ(copiedPathsText(files({"/x/a b", "/x/c"}), true), QStringLiteral("'/x/a b'\n/x/c"));
    EXPECT_EQ(copiedPathsText(files({"/x/a b", "/x/c"}), false), QStringLiteral("/x/a b\n/x/c"));
}

TEST(QuickActionTexts, CountsAndNames)
{
    EXPECT_EQ(copyToastText(files({"/x/a.txt"})), QStringLiteral("Copied a.txt — paste it in your file manager"));
    // A file's name is shown as it is, whatever words it holds.
    EXPECT_EQ(copyToastText(files({"/x/Finder notes from this Mac.txt"})),
              QStringLiteral("Copied Finder notes from this Mac.txt — paste it in your file manager"));
    EXPECT_EQ(copyToastText(files({"/x/a", "/x/b", "/x/c"})), QStringLiteral("Copied 3 items"));
    EXPECT_EQ(copyPathToastText(1, false), QStringLiteral("Copied path"));
    EXPECT_EQ(copyPathToastText(2, false), QStringLiteral("Copied 2 paths"));
    EXPECT_EQ(copyPathToastText(1, true), QStringLiteral("Copied escaped path"));
    EXPECT_EQ(copyPathToastText(3, true), QStringLiteral("Copied escaped 3 paths"));
    EXPECT_EQ(moveToastText(1, QStringLiteral("/x/Photos/")), QStringLiteral("Moved 1 item to Photos"));
    EXPECT_EQ(moveToastText(4, QStringLiteral("/x/Photos")), QStringLiteral("Moved 4 items to Photos"));
    EXPECT_EQ(moveToastText(2, QStringLiteral("/")), QStringLiteral("Moved 2 items to /"));
    EXPECT_EQ(moveChooserMessage(files({"/x/a.txt"})), QStringLiteral("Move “a.txt” to:"));
    EXPECT_EQ(moveChooserMessage(files({"/x/a", "/x/b"})), QStringLiteral("Move 2 items to:"));
    // A folder's URL may end in a slash; its name is still its own.
    EXPECT_EQ(moveMenuHeader({QUrl(QStringLiteral("file:///x/Folder/"))}), QStringLiteral("Move “Folder” to"));
}

TEST(MoveMenu, HeaderTheFirstEightExistingFoldersAndChoose)
{
    QTemporaryDir dir;
    QStringList stored;
    for (int i = 0; i < 10; ++i) {
        const QString folder = dir.filePath(QStringLiteral("f%1").arg(i));
        QDir().mkpath(folder);
        stored.append(folder);
    }
    QDir(stored[2]).removeRecursively();
    const QStringList existing = existingDestinations(stored);
    ASSERT_EQ(existing.size(), 9);
    EXPECT_FALSE(existing.contains(stored[2]));
    EXPECT_EQ(existing.first(), stored[0]);

    const QList<MenuEntry> entries = moveMenuEntries(files({"/x/a.txt"}), existing);
    EXPECT_EQ(titles(entries), QStringList({"Move “a.txt” to", "f0", "f1", "f3", "f4", "f5", "f6", "f7",
                                            "f8", "-", "Choose Folder…"}));
    EXPECT_FALSE(entries.first().enabled);
    EXPECT_EQ(entries[3].toolTip, stored[3]);
    EXPECT_TRUE(entries[3].enabled);
    EXPECT_TRUE(entries.last().enabled);
    EXPECT_EQ(titles(moveMenuEntries(files({"/x/a", "/x/b"}), {})),
              QStringList({"Move 2 items to", "-", "Choose Folder…"}));
}

TEST(RecentDestinations, MostRecentFirstWithoutDuplicatesAtMostTen)
{
    QStringList list;
    for (int i = 0; i < 11; ++i)
        list = rememberDestination(list, QStringLiteral("/d%1").arg(i));
    ASSERT_EQ(list.size(), 10);
    EXPECT_EQ(list.first(), QStringLiteral("/d10"));
    EXPECT_EQ(list.last(), QStringLiteral("/d1"));
    list = rememberDestination(list, QStringLiteral("/d5"));
    EXPECT_EQ(list.size(), 10);
    EXPECT_EQ(list.first(), QStringLiteral("/d5"));
    EXPECT_EQ(list.count(QStringLiteral("/d5")), 1);
    EXPECT_EQ(list[1], QStringLiteral("/d10"));
}

TEST(MoveIntoFolder, KeepsTheNameAndNumbersOnlyAClash)
{
    QTemporaryDir dir;
    const QString to = dir.filePath(QStringLiteral("to"));
    QDir().mkpath(to);
    test::writeFile(to + QStringLiteral("/IMG_0001.JPG"), "old");
    test::writeFile(to + QStringLiteral("/x.tar.gz"), "old");
    const QString photo = test::writeFile(dir.filePath(QStringLiteral("IMG_0001.JPG")), "new");
    const QString archive = test::writeFile(dir.filePath(QStringLiteral("x.tar.gz")), "tar");
    const QString plain = test::writeFile(dir.filePath(QStringLiteral("Notes.MD")), "md");

    EXPECT_EQ(moveIntoFolder(QUrl::fromLocalFile(photo), to)->toLocalFile(), to + QStringLiteral("/IMG_0001 2.JPG"));
    EXPECT_EQ(moveIntoFolder(QUrl::fromLocalFile(archive), to)->toLocalFile(), to + QStringLiteral("/x 2.tar.gz"));
    EXPECT_EQ(moveIntoFolder(QUrl::fromLocalFile(plain), to)->toLocalFile(), to + QStringLiteral("/Notes.MD"));
    EXPECT_EQ(test::readFile(to + QStringLiteral("/IMG_0001.JPG")), "old");
    EXPECT_EQ(test::readFile(to + QStringLiteral("/IMG_0001 2.JPG")), "new");
    EXPECT_FALSE(QFile::exists(photo));

    // Already there: nothing happens.
    EXPECT_FALSE(moveIntoFolder(QUrl::fromLocalFile(to + QStringLiteral("/Notes.MD")), to + QStringLiteral("/")));
    EXPECT_TRUE(QFile::exists(to + QStringLiteral("/Notes.MD")));
}

TEST(MoveIntoFolder, RefusesAFolderIntoItselfAndAMissingItem)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("top"));
    QDir().mkpath(folder + QStringLiteral("/inner"));
    EXPECT_ANY_THROW(moveIntoFolder(QUrl::fromLocalFile(folder), folder + QStringLiteral("/inner")));
    EXPECT_ANY_THROW(moveIntoFolder(QUrl::fromLocalFile(folder), folder));
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral("/inner")).isDir());
    EXPECT_ANY_THROW(moveIntoFolder(QUrl::fromLocalFile(dir.filePath(QStringLiteral("gone"))), folder));
    // A sibling whose name starts like the folder is not inside it.
    QDir().mkpath(folder + QStringLiteral("-2"));
    EXPECT_TRUE(moveIntoFolder(QUrl::fromLocalFile(folder), folder + QStringLiteral("-2")));
}

TEST(MoveIntoFolder, AcrossFilesystemsKeepsDatesModesLinksAndEmptyFolders)
{
    QTemporaryDir disk;
    QTemporaryDir memory(QStringLiteral("/dev/shm/qv-move-XXXXXX"));
    const test::RemoveAtExit cleanDisk(disk.path()), cleanMemory(memory.path());
    if (!memory.isValid() || deviceOf(memory.path()) == deviceOf(disk.path()))
        GTEST_SKIP() << "no second filesystem";
    const QString project = makeProject(disk.path());
    const QMap<QByteArray, QByteArray> before = test::treeDescription(project);

    const std::optional<QUrl> placed = moveIntoFolder(QUrl::fromLocalFile(project), memory.path());
    ASSERT_TRUE(placed);
    EXPECT_EQ(placed->toLocalFile(), memory.path() + QStringLiteral("/Project"));
    EXPECT_EQ(test::treeDescription(placed->toLocalFile()), before);
    EXPECT_FALSE(QFileInfo::exists(project));
    EXPECT_EQ(test::folderEntries(memory.path()), QStringList{QStringLiteral("Project")});

    // A single file keeps its date too.
    const QString note = test::writeFile(disk.filePath(QStringLiteral("note.txt")), "n");
    setModified(note, 1200000000);
    const std::optional<QUrl> movedNote = moveIntoFolder(QUrl::fromLocalFile(note), memory.path());
    ASSERT_TRUE(movedNote);
    struct stat st {};
    ::stat(QFile::encodeName(movedNote->toLocalFile()).constData(), &st);
    EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
}

TEST(MoveIntoFolder, AFailedMoveAcrossFilesystemsLeavesTheOriginalWholeAndNoCopy)
{
    QTemporaryDir disk;
    QTemporaryDir memory(QStringLiteral("/dev/shm/qv-move-XXXXXX"));
    const test::RemoveAtExit cleanDisk(disk.path()), cleanMemory(memory.path());
    if (!memory.isValid() || deviceOf(memory.path()) == deviceOf(disk.path()))
        GTEST_SKIP() << "no second filesystem";
    const QString project = makeProject(disk.path(), 1 << 20);
    const QMap<QByteArray, QByteArray> before = test::treeDescription(project);

    // A file size limit stops the copy partway, as a full disk would.
    struct sigaction ignore {}, saved {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &saved);
    rlimit limit {}, savedLimit {};
    ::getrlimit(RLIMIT_FSIZE, &savedLimit);
    limit = savedLimit;
    limit.rlim_cur = 64 * 1024;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const QString failure = failureOf([&] { moveIntoFolder(QUrl::fromLocalFile(project), memory.path()); });
    ::setrlimit(RLIMIT_FSIZE, &savedLimit);
    ::sigaction(SIGXFSZ, &saved, nullptr);
    EXPECT_EQ(failure, QStringLiteral("errno %1").arg(EFBIG));
    EXPECT_EQ(test::treeDescription(project), before);
    EXPECT_TRUE(test::folderEntries(memory.path()).isEmpty()) << "no copy, whole or part, is left";

    // A disk mounted inside the folder would stop its removal after the copy: refused first.
    const QByteArray mountPoint = QFile::encodeName(project + QStringLiteral("/build"));
    if (::mount("tmpfs", mountPoint.constData(), "tmpfs", MS_RDONLY, "size=64k") != 0)
        GTEST_SKIP() << "mounting needs root";
    {
        const auto unmount = qScopeGuard([&] { ::umount2(mountPoint.constData(), MNT_DETACH); });
        EXPECT_EQ(failureOf([&] { moveIntoFolder(QUrl::fromLocalFile(project), memory.path()); }),
                  QStringLiteral("A disk is mounted inside “Project”"));
    }
    EXPECT_EQ(test::treeDescription(project), before);
    EXPECT_TRUE(test::folderEntries(memory.path()).isEmpty());

    // A truly full disk.
    test::SmallDisk small(256 * 1024);
    ASSERT_TRUE(small.isMounted());
    EXPECT_EQ(failureOf([&] { moveIntoFolder(QUrl::fromLocalFile(project), small.path()); }),
              QStringLiteral("errno %1").arg(ENOSPC));
    EXPECT_EQ(test::treeDescription(project), before);
    EXPECT_TRUE(test::folderEntries(small.path()).isEmpty());
}

TEST(TerminalFolders, EachFolderOnceTheFirstFive)
{
    QTemporaryDir dir;
    QStringList folders;
    for (int i = 0; i < 7; ++i) {
        folders.append(dir.filePath(QStringLiteral("d%1").arg(i)));
        QDir().mkpath(folders.last());
    }
    const QString file = test::writeFile(folders[0] + QStringLiteral("/a.txt"));
    QDir().mkpath(folders[1] + QStringLiteral("/Doc.rtfd"));
    const FileProbe& probe = FileProbe::system();

    EXPECT_EQ(terminalFolders(files(folders), probe), folders.mid(0, 5));
    EXPECT_EQ(terminalFolders(files({file, folders[0]}), probe), QStringList({folders[0]}));
    // A document bundle opens where it lies; so does an item that is gone.
    EXPECT_EQ(terminalFolders(files({folders[1] + QStringLiteral("/Doc.rtfd"),
                                     folders[2] + QStringLiteral("/missing")}),
                              probe),
              QStringList({folders[1], folders[2]}));
}

TEST(TerminalCommand, ChosenProgramOrDesktopEntryElseTheUsualOnes)
{
    QTemporaryDir dir;
    SettingsStore settings(dir.filePath(QStringLiteral("settings.json")));
    QStringList asked;
    QString present = QStringLiteral("konsole");
    const auto find = [&](const QString& name) {
        asked.append(name);
        return name == present ? QStringLiteral("/usr/bin/") + name : QString();
    };
    ASSERT_TRUE(terminalCommand(settings, find));
    EXPECT_EQ(terminalCommand(settings, find)->program, QStringLiteral("/usr/bin/konsole"));
    EXPECT_EQ(asked.mid(0, 3), QStringList({"x-terminal-emulator", "gnome-terminal", "konsole"}));
    present.clear();
    EXPECT_FALSE(terminalCommand(settings, find));

    const QString script = test::writeFile(dir.filePath(QStringLiteral("term.sh")), "#!/bin/sh\n");
    QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner);
    settings.setValue(QStringLiteral("quorvenda.actions.terminalApp"), script);
    EXPECT_EQ(terminalCommand(settings, find)->program, script);

    const QString entry = test::writeFile(dir.filePath(QStringLiteral("t.desktop")),
                                          "[Desktop Action New]\nExec=wrong\n[Desktop Entry]\nName=T\n"
                                          "Exec=\"/opt/my term/run\" --title \"A \\\\\"b\\\\\"\" 100%% %U\n");
    settings.setValue(QStringLiteral("quorvenda.actions.terminalApp"), entry);
    const auto command = terminalCommand(settings, find);
    ASSERT_TRUE(command);
    EXPECT_EQ(command->program, QStringLiteral("/opt/my term/run"));
    EXPECT_EQ(command->arguments, QStringList({"--title", "A \"b\"", "100%"}));

    // A chosen terminal that is gone falls back to the usual ones.
    settings.setValue(QStringLiteral("quorvenda.actions.terminalApp"), dir.filePath(QStringLiteral("gone")));
    present = QStringLiteral("xterm");
    EXPECT_EQ(terminalCommand(settings, find)->program, QStringLiteral("/usr/bin/xterm"));
}

TEST(DeviceList, IdThenNameOnEachLine)
{
    EXPECT_EQ(parseDeviceList(QStringLiteral("abc123 Phone\n\nff00 Jo's Tablet 2\nlonely\n")),
              QList<Device>({{"abc123", "Phone"}, {"ff00", "Jo's Tablet 2"}, {"lonely", "lonely"}}));
    EXPECT_TRUE(parseDeviceList(QString()).isEmpty());
    EXPECT_EQ(parseDeviceList(QStringLiteral("x y\n").repeated(1000)).size(), 64);
}
