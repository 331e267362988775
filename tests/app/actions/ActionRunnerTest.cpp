#include "app/actions/ActionRunner.h"
#include "jobs/Toasts.h"
#include "model/files/FileProbe.h"
#include "platform/clipboard/Clipboard.h"
#include "platform/desktop/FolderChooser.h"
#include "platform/desktop/MenuPresenter.h"
#include "platform/desktop/Workspace.h"
#include "platform/settings/SettingsStore.h"
#include "support/SmallDisk.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

namespace {

const QString recentKey = QStringLiteral("quorvenda.actions.recentMoveDestinations");

struct Desktop : Clipboard, Workspace, MenuPresenter, FolderChooser, ToastPresenter {
    QString text;
    QList<QUrl> clipboardFiles;
    QList<QUrl> revealed;
    QList<Toast> toasts;
    std::optional<QStringList> menu;
    QPointF menuPoint;
    std::optional<QString> pick;
    std::optional<std::pair<QString, QString>> chooser; // message, start folder
    std::optional<QString> chosenFolder;
    struct Start {
        ProgramCommand command;
        QString folder;
    };
    QList<Start> started;
    QString startError;
    QList<ProgramCommand> runs;
    QHash<QString, QString> programs; // name -> path
    QByteArray deviceList;
    int shareStatus = 0;

    void setText(const QString& value) override { text = value; }
    void setFiles(const QList<QUrl>& urls) override { clipboardFiles = urls; }
    bool open(const QUrl&) override { return true; }
    void reveal(const QList<QUrl>& urls) override { revealed += urls; }
    void show(const Toast& toast) override { toasts.append(toast); }

    void popUp(const QList<MenuEntry>& entries, QPointF point, std::function<void(int)> chosen) override
    {
        QStringList titles;
        for (const MenuEntry& entry : entries)
            titles.append(entry.isSeparator ? QStringLiteral("-") : entry.title);
        menu = titles;
        menuPoint = point;
        if (pick && titles.contains(*pick))
            chosen(int(titles.indexOf(*pick)));
    }
    void chooseFolder(const QString& message, const QString& accept, const QString& start,
                      std::function<void(const QString&)> chosen) override
    {
        EXPECT_EQ(accept, QStringLiteral("Move Here"));
        chooser = std::make_pair(message, start);
        if (chosenFolder)
            chosen(*chosenFolder);
    }

    QStringList toastTexts() const
    {
        QStringList out;
        for (const Toast& toast : toasts)
            out.append(toast.text);
        return out;
    }
};

class ActionRunnerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        settings = std::make_unique<SettingsStore>(dir.filePath(QStringLiteral("settings.json")));
        ActionRunner::Services services = ActionRunner::Services::system();
        services.clipboard = &desktop;
        services.workspace = &desktop;
        services.menus = &desktop;
        services.chooser = &desktop;
        services.settings = settings.get();
        services.primaryHeight = [] { return 1000.0; };
        services.pointer = [] { return QPointF(5, 6); };
        services.findProgram = [this](const QString& name) { return desktop.programs.value(name); };
        services.startDetached = [this](const ProgramCommand& command, const QString& folder, QString* error) {
            if (!desktop.startError.isEmpty()) {
                *error = desktop.startError;
                return false;
            }
            desktop.started.append({command, folder});
            return true;
        };
        services.runProgram = [this](const ProgramCommand& command, QByteArray* output) {
            // Called off the main thread: the test reads what it recorded once the runner settles.
            std::lock_guard lock(runsMutex);
            desktop.runs.append(command);
            if (command.arguments.contains(QStringLiteral("--list-available"))) {
                if (output)
                    *output = desktop.deviceList;
                return 0;
            }
            return desktop.shareStatus;
        };
        runner = std::make_unique<ActionRunner>(services);
        setToastPresenter(&desktop);
    }
    void TearDown() override { setToastPresenter(nullptr); }

    QString path(const QString& name) const { return dir.filePath(name); }
    QString folder(const QString& name) const
    {
        QDir().mkpath(path(name));
        return path(name);
    }
    void settle() { ASSERT_TRUE(waitFor([this] { return !runner->isBusy(); }, 60000)); }
    QStringList recent() const { return settings->stringListValue(recentKey).value_or(QStringList()); }

    QTemporaryDir dir;
    std::mutex runsMutex;
    Desktop desktop;
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<ActionRunner> runner;
};

QList<QUrl> urls(const QStringList& paths)
{
    QList<QUrl> out;
    for (const QString& path : paths)
        out.append(QUrl::fromLocalFile(path));
    return out;
}

} // namespace

TEST_F(ActionRunnerTest, CopyPutsFilesAndCopyPathPutsText)
{
    const QList<QUrl> three = urls({path("a.txt"), path("b"), path("c")});
    runner->copyFiles(three);
    EXPECT_EQ(desktop.clipboardFiles, three);
    runner->copyFiles(three.mid(0, 1));
    runner->copyPaths(urls({path("a b"), path("c")}), false);
    EXPECT_EQ(desktop.text, path("a b") + QLatin1Char('\n') + path("c"));
    runner->copyPaths(urls({path("a b")}), true);
    EXPECT_EQ(desktop.text, QLatin1Char('\'') + path("a b") + QLatin1Char('\''));
    EXPECT_EQ(desktop.toastTexts(), QStringList({"Copied 3 items", "Copied a.txt — paste it in your file manager",
                                                 "Copied 2 paths", "Copied escaped path"}));
    EXPECT_EQ(desktop.toasts[0].symbol, QStringLiteral("doc.on.doc"));
    EXPECT_EQ(desktop.toasts[2].symbol, QStringLiteral("link"));
}

TEST_F(ActionRunnerTest, MoveWithoutRecentFoldersAsksAndNeverOverwrites)
{
    const QString to = folder("to");
    writeFile(to + QStringLiteral("/IMG_0001.JPG"), "old");
    const QString photo = writeFile(path("from/IMG_0001.JPG"), "new");

    // Cancelled: nothing at all.
    runner->showMoveMenu(urls({photo}), QPointF(100, 100));
    EXPECT_FALSE(desktop.menu);
    ASSERT_TRUE(desktop.chooser);
    EXPECT_EQ(desktop.chooser->first, QStringLiteral("Move “IMG_0001.JPG” to:"));
    EXPECT_EQ(desktop.chooser->second, path("from"));
    settle();
    EXPECT_TRUE(desktop.toasts.isEmpty());
    EXPECT_TRUE(recent().isEmpty());

    desktop.chosenFolder = to;
    runner->showMoveMenu(urls({photo}), QPointF(100, 100));
    settle();
    EXPECT_EQ(readFile(to + QStringLiteral("/IMG_0001.JPG")), "old");
    EXPECT_EQ(readFile(to + QStringLiteral("/IMG_0001 2.JPG")), "new");
    EXPECT_FALSE(QFile::exists(photo));
    ASSERT_EQ(desktop.toastTexts(), QStringList({"Moved 1 item to to"}));
    EXPECT_EQ(desktop.toasts[0].symbol, QStringLiteral("folder"));
    ASSERT_TRUE(desktop.toasts[0].onClick);
    desktop.toasts[0].onClick();
    EXPECT_EQ(desktop.revealed, urls({to}));
    EXPECT_EQ(recent(), QStringList({to}));
}

TEST_F(ActionRunnerTest, MoveMenuOffersRememberedFoldersThatExist)
{
    QStringList stored;
    for (int i = 0; i < 10; ++i)
        stored.append(folder(QStringLiteral("f%1").arg(i)));
    QDir(stored[4]).removeRecursively();
    settings->setValue(recentKey, stored);
    const QString file = writeFile(path("a.txt"));

    desktop.pick = QStringLiteral("f5");
    runner->showMoveMenu(urls({file}), QPointF(300, 200));
    ASSERT_TRUE(desktop.menu);
    EXPECT_EQ(*desktop.menu, QStringList({"Move “a.txt” to", "f0", "f1", "f2", "f3", "f5", "f6", "f7", "f8", "-",
                                          "Choose Folder…"}));
    // Shown where the wheel was, in Qt's coordinates.
    EXPECT_EQ(desktop.menuPoint, QPointF(300, 800));
    settle();
    EXPECT_TRUE(QFile::exists(stored[5] + QStringLiteral("/a.txt")));
    EXPECT_EQ(recent().first(), stored[5]);
    EXPECT_EQ(recent().size(), 10);
    EXPECT_EQ(recent().count(stored[5]), 1);

    desktop.pick = QStringLiteral("Choose Folder…");
    desktop.chosenFolder = stored[6];
    runner->showMoveMenu(urls({stored[5] + QStringLiteral("/a.txt")}), QPointF(0, 0));
    settle();
    EXPECT_TRUE(QFile::exists(stored[6] + QStringLiteral("/a.txt")));
    EXPECT_EQ(desktop.chooser->second, stored[5]);

    // Dismissed: nothing moves.
    desktop.pick.reset();
    runner->showMoveMenu(urls({stored[6] + QStringLiteral("/a.txt")}), QPointF(0, 0));
    settle();
    EXPECT_TRUE(QFile::exists(stored[6] + QStringLiteral("/a.txt")));
}

TEST_F(ActionRunnerTest, MoveIntoTheItemsOwnFolderIsSilentButRemembered)
{
    const QString here = folder("here");
    const QString a = writeFile(here + QStringLiteral("/a"));
    const QString b = writeFile(here + QStringLiteral("/b"));
    settings->setValue(recentKey, QStringList({folder("other")}));
    runner->moveFiles(urls({a, b}), here + QStringLiteral("/"));
    settle();
    EXPECT_TRUE(QFile::exists(a) && QFile::exists(b));
    EXPECT_TRUE(desktop.toasts.isEmpty());
    EXPECT_EQ(recent(), QStringList({here, path("other")}));
}

TEST_F(ActionRunnerTest, RecentListKeepsTheTenLatest)
{
    for (int i = 0; i < 11; ++i)
        runner->moveFiles(urls({path("nothing")}), folder(QStringLiteral("d%1").arg(i)));
    settle();
    const QStringList list = recent();
    ASSERT_EQ(list.size(), 10);
    EXPECT_EQ(list.first(), path("d10"));
    EXPECT_EQ(list.last(), path("d1"));
}

TEST_F(ActionRunnerTest, AFailedItemIsReportedWhileTheOthersMove)
{
    const QString to = folder("to");
    const QString a = writeFile(path("a"));
    const QString c = writeFile(path("c"));
    runner->moveFiles(urls({a, path("missing"), c}), to);
    settle();
    EXPECT_TRUE(QFile::exists(to + QStringLiteral("/a")));
    EXPECT_TRUE(QFile::exists(to + QStringLiteral("/c")));
    EXPECT_EQ(desktop.toastTexts(), QStringList({"Couldn't move: The file is no longer there"}));
    EXPECT_EQ(desktop.toasts[0].symbol, QStringLiteral("exclamationmark.triangle"));
    EXPECT_FALSE(desktop.toasts[0].onClick);

    const QString top = folder("top");
    const QString inner = folder("top/inner");
    const QString d = writeFile(path("d"));
    runner->moveFiles(urls({top, d}), inner);
    settle();
    EXPECT_EQ(desktop.toastTexts().last(), QStringLiteral("Couldn't move: “top” can't be moved into itself"));
    EXPECT_TRUE(QFileInfo(inner).isDir());
    EXPECT_TRUE(QFile::exists(inner + QStringLiteral("/d")));
}

TEST_F(ActionRunnerTest, AMoveToAnotherFilesystemArrivesWholeOrNotAtAll)
{
    SmallDisk disk(40 << 20);
    if (!disk.isMounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    QByteArray bytes(6 << 20, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
    const QString small = writeFile(path("small.bin"), bytes);
    QDir().mkpath(path("album/deep"));
    writeFile(path("album/deep/x.txt"), "x");
    runner->moveFiles(urls({small, path("album")}), disk.path());
    settle();
    EXPECT_EQ(readFile(disk.filePath(QStringLiteral("small.bin"))), bytes);
    EXPECT_EQ(readFile(disk.filePath(QStringLiteral("album/deep/x.txt"))), "x");
    EXPECT_FALSE(QFile::exists(small));
    EXPECT_FALSE(QFile::exists(path("album")));
    EXPECT_EQ(desktop.toastTexts(), QStringList({"Moved 2 items to " + QFileInfo(disk.path()).fileName()}));

    // Too big for what is left: the original stays and nothing of it is left on the disk.
    const QString big = writeFile(path("big.bin"), bytes.repeated(6));
    runner->moveFiles(urls({big}), disk.path());
    settle();
    EXPECT_EQ(desktop.toastTexts().last(), QStringLiteral("Couldn't move: Not enough disk space"));
    EXPECT_EQ(QFileInfo(big).size(), bytes.size() * 6);
    EXPECT_EQ(folderEntries(disk.path()), QStringList({"album", "small.bin"}));
}

TEST_F(ActionRunnerTest, TerminalOpensEachFolderOnceAtMostFive)
{
    desktop.programs.insert(QStringLiteral("xterm"), QStringLiteral("/usr/bin/xterm"));
    QStringList folders;
    for (int i = 0; i < 7; ++i)
        folders.append(folder(QStringLiteral("d%1").arg(i)));
    runner->openInTerminal(urls(folders));
    QStringList opened;
    for (const auto& start : desktop.started) {
        EXPECT_EQ(start.command.program, QStringLiteral("/usr/bin/xterm"));
        opened.append(start.folder);
    }
    EXPECT_EQ(opened, folders.mid(0, 5));

    desktop.started.clear();
    runner->openInTerminal(urls({writeFile(folders[0] + QStringLiteral("/f.txt")), folders[0]}));
    ASSERT_EQ(desktop.started.size(), 1);
    EXPECT_EQ(desktop.started[0].folder, folders[0]);
    EXPECT_TRUE(desktop.toasts.isEmpty());

    desktop.startError = QStringLiteral("Permission denied");
    runner->openInTerminal(urls({folders[0]}));
    desktop.programs.clear();
    runner->openInTerminal(urls({folders[0]}));
    EXPECT_EQ(desktop.toastTexts(), QStringList({"Couldn't open the terminal: Permission denied",
                                                 "No terminal was found: install one (xterm, for example) or choose yours in Settings, Advanced"}));
}

TEST_F(ActionRunnerTest, SendToDeviceSharesEachFileWithTheDevice)
{
    const QList<QUrl> files = urls({path("a b.jpg"), path("c.pdf")});
    // Each toast says what stands in the way and what to install.
    runner->sendToDevice(files);
    settle();
    EXPECT_EQ(desktop.toastTexts(), QStringList({"Install KDE Connect to send files to a device"}));
    EXPECT_TRUE(desktop.runs.isEmpty());

    desktop.programs.insert(QStringLiteral("kdeconnect-cli"), QStringLiteral("/bin/kdc"));
    desktop.deviceList = "";
    runner->sendToDevice(files);
    settle();
    ASSERT_EQ(desktop.toasts.size(), 2);
    EXPECT_EQ(desktop.toastTexts().last(),
              "No device is reachable: install KDE Connect on it and pair it with this computer");

    desktop.deviceList = "id1 Phone\n";
    desktop.runs.clear();
    runner->sendToDevice(files);
    settle();
    EXPECT_EQ(desktop.toasts.size(), 2);
    ASSERT_EQ(desktop.runs.size(), 3);
    EXPECT_EQ(desktop.runs[0].arguments, QStringList({"--list-available", "--id-name-only"}));
    EXPECT_EQ(desktop.runs[1].arguments, QStringList({"--device", "id1", "--share", path("a b.jpg")}));
    EXPECT_EQ(desktop.runs[2].arguments, QStringList({"--device", "id1", "--share", path("c.pdf")}));
    EXPECT_FALSE(desktop.menu);

    // Several devices: a menu at the pointer; a refusal is reported.
    desktop.deviceList = "id1 Phone\nid2 Tablet\n";
    desktop.pick = QStringLiteral("Send to Tablet");
    desktop.shareStatus = 1;
    desktop.runs.clear();
    runner->sendToDevice(files.mid(0, 1));
    settle();
    EXPECT_EQ(*desktop.menu, QStringList({"Send to Phone", "Send to Tablet"}));
    EXPECT_EQ(desktop.menuPoint, QPointF(5, 6));
    EXPECT_EQ(desktop.runs.last().arguments, QStringList({"--device", "id2", "--share", path("a b.jpg")}));
    ASSERT_EQ(desktop.toasts.size(), 3);
    EXPECT_EQ(desktop.toastTexts().last(), "Sending to a device isn't available right now");
}

TEST_F(ActionRunnerTest, ShareOffersEmailAndDevices)
{
    const QList<QUrl> files = urls({path("a.jpg"), path("it's.pdf")});
    runner->sharePicker(files, QPointF(10, 10));
    settle();
    EXPECT_EQ(desktop.toastTexts(), QStringList({"Install xdg-utils or KDE Connect to share files"}));

    desktop.programs.insert(QStringLiteral("xdg-email"), QStringLiteral("/bin/mail"));
    desktop.programs.insert(QStringLiteral("kdeconnect-cli"), QStringLiteral("/bin/kdc"));
    desktop.deviceList = "id1 Phone\n";
    desktop.pick = QStringLiteral("Email…");
    runner->sharePicker(files, QPointF(10, 10));
    settle();
    EXPECT_EQ(*desktop.menu, QStringList({"Email…", "Send to Phone"}));
    ASSERT_EQ(desktop.started.size(), 1);
    EXPECT_EQ(desktop.started[0].command.program, QStringLiteral("/bin/mail"));
    EXPECT_EQ(desktop.started[0].command.arguments,
              QStringList({"--attach", path("a.jpg"), "--attach", path("it's.pdf")}));

    desktop.pick = QStringLiteral("Send to Phone");
    desktop.runs.clear();
    runner->sharePicker(files, QPointF(10, 10));
    settle();
    ASSERT_EQ(desktop.runs.size(), 3);
    EXPECT_EQ(desktop.runs[2].arguments, QStringList({"--device", "id1", "--share", path("it's.pdf")}));
    EXPECT_EQ(desktop.toasts.size(), 1);
}

TEST_F(ActionRunnerTest, NothingLeavesAReadOnlyDiskAndNoCopyIsLeftBehind)
{
    SmallDisk disk(4 << 20);
    if (!disk.isMounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    const QString stuck = writeFile(disk.filePath(QStringLiteral("stuck.txt")), "keep");
    const QString free = writeFile(path("free.txt"), "go");
    ASSERT_TRUE(disk.setReadOnly(true));
    const QString to = folder("to");
    runner->moveFiles(urls({stuck, free}), to);
    settle();
    EXPECT_EQ(desktop.toastTexts(), QStringList({"Couldn't move: “stuck.txt” is on a read-only disk"}));
    EXPECT_EQ(readFile(stuck), "keep");
    EXPECT_EQ(folderEntries(to), QStringList({"free.txt"}));
    disk.setReadOnly(false);
}
