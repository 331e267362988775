#include "support/RequireX11.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace qv::test;

namespace {

const QString driver = QStringLiteral(QV_BUILD_DIR "/quorvenda-dev");

QString writeScript(const QString& path, const QByteArray& body)
{
    writeFile(path, "#!/bin/sh\n" + body);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

QStringList lines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

class ActionCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X server (DISPLAY)";
        QDir().mkpath(bin());
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("QUORVENDA_SETTINGS_FILE"), path("settings.json"));
        // Only the programs a test puts there.
        env.insert(QStringLiteral("PATH"), bin());
    }

    QString path(const QString& name) const { return dir.filePath(name); }
    QString bin() const { return dir.filePath(QStringLiteral("bin")); }

    // Starts the driver; the JSON line once it is printed. The process runs on for --stay.
    QJsonObject start(QProcess& process, const QStringList& args)
    {
        process.setProcessEnvironment(env);
        process.start(driver, QStringList{QStringLiteral("action")} + args);
        QByteArray out;
        while (!out.contains('\n') && process.waitForReadyRead(30000))
            out += process.readAllStandardOutput();
        const QJsonObject json = QJsonDocument::fromJson(out.left(out.indexOf('\n'))).object();
        EXPECT_FALSE(json.isEmpty()) << out.constData() << process.readAllStandardError().constData();
        return json;
    }

    QJsonObject run(const QStringList& args)
    {
        QProcess process;
        const QJsonObject json = start(process, args);
        EXPECT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitCode(), 0);
        return json;
    }

    static QByteArray clipboard(const char* type)
    {
        QProcess xclip;
        xclip.start(QStringLiteral("xclip"), {"-o", "-selection", "clipboard", "-t", type});
        xclip.waitForFinished(10000);
        return xclip.readAllStandardOutput();
    }

    static bool haveXclip() { return !QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty(); }

    QTemporaryDir dir;
    QProcessEnvironment env;
};

QString toast(const QJsonObject& json)
{
    return json.value(QStringLiteral("toast")).toString();
}

} // namespace

TEST_F(ActionCommand, CopyPutsTheFilesOnTheClipboard)
{
    if (!haveXclip())
        GTEST_SKIP() << "needs xclip";
    const QString a = writeFile(path("a.txt"));
    QProcess process;
    const QJsonObject json = start(process, {"action.copy", "--stay", "10", a});
    EXPECT_EQ(toast(json), QStringLiteral("Copied a.txt — paste it in your file manager"));
    EXPECT_TRUE(json.value(QStringLiteral("menu")).isNull());
    EXPECT_TRUE(json.value(QStringLiteral("chooser")).isNull());
    const QByteArray uri = QUrl::fromLocalFile(a).toEncoded();
    EXPECT_EQ(clipboard("text/uri-list").trimmed(), uri);
    EXPECT_EQ(clipboard("x-special/gnome-copied-files"), "copy\n" + uri);
    process.kill();
    process.waitForFinished();

    EXPECT_EQ(toast(run({"action.copy", a, writeFile(path("b")), path("gone")})), QStringLiteral("Copied 3 items"));
}

TEST_F(ActionCommand, CopyPathWithAltQuotesForTheShell)
{
    if (!haveXclip())
        GTEST_SKIP() << "needs xclip";
    const QStringList names{"a b.txt", "it's.txt", "café.txt"};
    QStringList files;
    for (const QString& name : names)
        files.append(writeFile(path(name)));
    QProcess process;
    const QJsonObject json = start(process, QStringList{"action.copypath", "--alt", "--stay", "10"} + files);
    EXPECT_EQ(toast(json), QStringLiteral("Copied escaped 3 paths"));
    const QString expected = QLatin1Char('\'') + path("a b.txt") + QStringLiteral("'\n'") + dir.path()
        + QStringLiteral("/it'\\''s.txt'\n") + path("café.txt");
    EXPECT_EQ(QString::fromUtf8(clipboard("UTF8_STRING")), expected);
    process.kill();
    process.waitForFinished();

    EXPECT_EQ(toast(run({"action.copypath", files[0], files[1]})), QStringLiteral("Copied 2 paths"));
}

TEST_F(ActionCommand, MoveAsksThenOffersTheRememberedFolders)
{
    const QString to = path("to");
    writeFile(to + QStringLiteral("/IMG_0001.JPG"), "old");
    const QString photo = writeFile(path("from/IMG_0001.JPG"), "new");

    QJsonObject json = run({"action.move", photo});
    EXPECT_TRUE(json.value(QStringLiteral("toast")).isNull());
    EXPECT_EQ(json.value(QStringLiteral("chooser")).toObject(),
              QJsonObject({{"message", "Move “IMG_0001.JPG” to:"}, {"folder", path("from")}}));
    EXPECT_TRUE(QFile::exists(photo));

    json = run({"action.move", "--folder", to, photo});
    EXPECT_EQ(toast(json), QStringLiteral("Moved 1 item to to"));
    EXPECT_EQ(readFile(to + QStringLiteral("/IMG_0001 2.JPG")), "new");
    EXPECT_EQ(readFile(to + QStringLiteral("/IMG_0001.JPG")), "old");

    // Ten remembered folders, one of them gone: the first eight that exist.
    QJsonArray stored;
    QJsonArray expectedMenu{QStringLiteral("Move “a.txt” to")};
    for (int i = 0; i < 10; ++i) {
        const QString folder = path(QStringLiteral("f%1").arg(i));
        if (i != 1)
            QDir().mkpath(folder);
        stored.append(folder);
        if (i != 1 && expectedMenu.size() < 9)
            expectedMenu.append(QStringLiteral("f%1").arg(i));
    }
    expectedMenu.append(QStringLiteral("-"));
    expectedMenu.append(QStringLiteral("Choose Folder…"));
    writeFile(path("settings.json"),
              QJsonDocument(QJsonObject{{"quorvenda.actions.recentMoveDestinations", stored}}).toJson());
    const QString a = writeFile(path("f0/a.txt"));
    json = run({"action.move", "--pick", "f0", a});
    EXPECT_EQ(json.value(QStringLiteral("menu")).toArray(), expectedMenu);
    // Its own folder: nothing moves and nothing is said, but the folder comes first.
    EXPECT_TRUE(json.value(QStringLiteral("toast")).isNull());
    EXPECT_TRUE(QFile::exists(a));

    json = run({"action.move", "--pick", "f3", a});
    EXPECT_EQ(toast(json), QStringLiteral("Moved 1 item to f3"));
    EXPECT_TRUE(QFile::exists(path("f3/a.txt")));

    json = run({"action.move", "--pick", "Choose Folder…", "--folder", path("f2"), path("f3/a.txt"), path("gone")});
    EXPECT_EQ(toast(json), QStringLiteral("Couldn't move: The file is no longer there"));
    EXPECT_TRUE(QFile::exists(path("f2/a.txt")));
    const QJsonArray recent = QJsonDocument::fromJson(readFile(path("settings.json")))
                                  .object()
                                  .value(QStringLiteral("quorvenda.actions.recentMoveDestinations"))
                                  .toArray();
    ASSERT_EQ(recent.size(), 10);
    EXPECT_EQ(recent[0].toString(), path("f2"));
    EXPECT_EQ(recent[1].toString(), path("f3"));
    EXPECT_EQ(recent[2].toString(), path("f0"));
}

TEST_F(ActionCommand, TerminalStartsInEachFolderOnce)
{
    const QString log = path("terminal.log");
    writeScript(bin() + QStringLiteral("/x-terminal-emulator"),
                "pwd >> '" + log.toUtf8() + "'\nprintf '%s\\n' \"$#\" >> '" + log.toUtf8() + ".args'\n");
    QStringList folders;
    for (int i = 0; i < 7; ++i) {
        folders.append(path(QStringLiteral("d %1").arg(i)));
        QDir().mkpath(folders.last());
    }
    EXPECT_TRUE(run(QStringList{"action.terminal"} + folders).value(QStringLiteral("toast")).isNull());
    ASSERT_TRUE(waitFor([&] { return lines(log).size() >= 5; }));
    // The first five, each once; the terminals start side by side and write in any order.
    QStringList started = lines(log);
    started.sort();
    EXPECT_EQ(started, folders.mid(0, 5));
    EXPECT_EQ(lines(log + QStringLiteral(".args")), QStringList(5, QStringLiteral("0")));

    QFile::remove(log);
    run({"action.terminal", writeFile(folders[6] + QStringLiteral("/f.txt")), folders[6]});
    ASSERT_TRUE(waitFor([&] { return !lines(log).isEmpty(); }));
    EXPECT_EQ(lines(log), QStringList({folders[6]}));

    // The chosen terminal before the usual ones.
    const QString chosenLog = path("chosen.log");
    const QString chosen = writeScript(path("my terminal"), "pwd > '" + chosenLog.toUtf8() + "'\n");
    writeFile(path("settings.json"), QJsonDocument(QJsonObject{{"quorvenda.actions.terminalApp", chosen}}).toJson());
    run({"action.terminal", folders[2]});
    ASSERT_TRUE(waitFor([&] { return !lines(chosenLog).isEmpty(); }));
    EXPECT_EQ(lines(chosenLog), QStringList({folders[2]}));

    // A desktop entry whose program is gone: the reason, not a silent nothing.
    const QString entry = writeFile(path("t.desktop"), "[Desktop Entry]\nExec=/nonexistent/term %U\n");
    writeFile(path("settings.json"), QJsonDocument(QJsonObject{{"quorvenda.actions.terminalApp", entry}}).toJson());
    EXPECT_EQ(toast(run({"action.terminal", folders[0]})), QStringLiteral("Couldn't open the terminal: term was not found"));

    writeFile(path("settings.json"), "{}");
    QFile::remove(bin() + QStringLiteral("/x-terminal-emulator"));
    EXPECT_EQ(toast(run({"action.terminal", folders[0]})),
              QStringLiteral("No terminal was found: install one (xterm, for example) or choose yours in Settings, Advanced"));
}

TEST_F(ActionCommand, DevicesAndMailGetEachFileAsOneArgument)
{
    const QString a = writeFile(path("a b.jpg"));
    const QString b = writeFile(path("it's.pdf"));
    EXPECT_EQ(toast(run({"action.airdrop", a})), QStringLiteral("Install KDE Connect to send files to a device"));
    EXPECT_EQ(toast(run({"action.share", a})), QStringLiteral("Install xdg-utils or KDE Connect to share files"));

    const QByteArray deviceLog = path("kdeconnect.log").toUtf8();
    writeScript(bin() + QStringLiteral("/kdeconnect-cli"),
                "if [ \"$1\" = --list-available ]; then echo 'c0ffee01 Phone'; exit 0; fi\n"
                "printf '%s\\n' \"$@\" >> '" + deviceLog + "'\n");
    const QByteArray mailLog = path("email.log").toUtf8();
    writeScript(bin() + QStringLiteral("/xdg-email"), "printf '%s\\n' \"$@\" >> '" + mailLog + "'\n");

    EXPECT_TRUE(run({"action.airdrop", a, b}).value(QStringLiteral("toast")).isNull());
    EXPECT_EQ(lines(QString::fromUtf8(deviceLog)),
              QStringList({"--device", "c0ffee01", "--share", a, "--device", "c0ffee01", "--share", b}));

    QJsonObject json = run({"action.share", "--pick", "Email…", "--at", "200,300", a, b});
    EXPECT_EQ(json.value(QStringLiteral("menu")).toArray(), QJsonArray({"Email…", "Send to Phone"}));
    ASSERT_TRUE(waitFor([&] { return lines(QString::fromUtf8(mailLog)).size() >= 4; }));
    EXPECT_EQ(lines(QString::fromUtf8(mailLog)), QStringList({"--attach", a, "--attach", b}));

    QFile::remove(QString::fromUtf8(deviceLog));
    json = run({"action.share", "--pick", "Send to Phone", b});
    EXPECT_EQ(lines(QString::fromUtf8(deviceLog)), QStringList({"--device", "c0ffee01", "--share", b}));
}
