#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QImage>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>

using namespace qv;

namespace {

QString sourceFile(const QString& relative)
{
    return QStringLiteral(QV_SOURCE_DIR "/") + relative;
}

QString readText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

QString entryValue(const QString& text, const QString& key)
{
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (line.startsWith(key + QLatin1Char('=')))
            return line.mid(key.size() + 1);
    }
    return {};
}

} // namespace

TEST(DesktopEntries, TheEntryRunsTheFilesItIsGivenAndContextMenusRunTheSame)
{
    const QString entry = readText(sourceFile(QStringLiteral("data/quorvenda.desktop")));
    ASSERT_TRUE(entry.contains(QRegularExpression(QStringLiteral("^\\[Desktop Entry\\]$"), QRegularExpression::MultilineOption)));
    EXPECT_EQ(entryValue(entry, QStringLiteral("Exec")), QStringLiteral("quorvenda %F"));
    EXPECT_EQ(entryValue(entry, QStringLiteral("Type")), QStringLiteral("Application"));
    // Listed among all applications, where "Open With" dialogs offer it for any file.
    EXPECT_FALSE(entry.contains(QStringLiteral("NoDisplay=true")));
    // The installed icon (share/icons/hicolor), which menus and Open With show.
    EXPECT_EQ(entryValue(entry, QStringLiteral("Icon")), QStringLiteral("quorvenda"));

    // Every context-menu entry runs the same command with the selected items.
    for (const QString& file : {QStringLiteral("data/file-manager/dolphin/quorvenda-convert.desktop"),
                                QStringLiteral("data/file-manager/nemo/quorvenda.nemo_action")})
        EXPECT_EQ(entryValue(readText(sourceFile(file)), QStringLiteral("Exec")),
                  QStringLiteral("quorvenda %F"))
            << file.toStdString();
    EXPECT_TRUE(readText(sourceFile(QStringLiteral("data/file-manager/thunar/quorvenda-uca.xml")))
                    .contains(QStringLiteral("<command>quorvenda %F</command>")));
}

// Installed in the user's own folder, which xdg-mime and GLib read before the system's, beside
// a viewer that handles the same files and whose name sorts after ours: a double-click still
// opens the viewer, and a file nothing else handles gets no default from us either.
TEST(DesktopEntries, QuorvendaNeverBecomesTheDefaultApplication)
{
    for (const char* tool : {"xdg-mime", "update-desktop-database", "gio"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            GTEST_SKIP() << tool << " is not installed";
    }
    QTemporaryDir dir;
    const QStringList types{QStringLiteral("application/pdf"), QStringLiteral("video/mp4"), QStringLiteral("audio/mpeg"),
                            QStringLiteral("image/jpeg"), QStringLiteral("image/png"), QStringLiteral("text/plain"),
                            QStringLiteral("application/zip"),
                            QStringLiteral("application/vnd.openxmlformats-officedocument.wordprocessingml.document")};
    const QString user = dir.filePath(QStringLiteral("home/applications"));
    const QString system = dir.filePath(QStringLiteral("system/applications"));
    ASSERT_TRUE(QDir().mkpath(user) && QDir().mkpath(system));
    ASSERT_TRUE(QFile::copy(sourceFile(QStringLiteral("data/quorvenda.desktop")), user + QStringLiteral("/quorvenda.desktop")));
    test::writeFile(system + QStringLiteral("/zz-viewer.desktop"),
                    "[Desktop Entry]\nType=Application\nName=Viewer\nExec=/bin/true %F\nMimeType="
                        + types.mid(0, types.size() - 1).join(QLatin1Char(';')).toUtf8() + ";\n");

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("home")));
    environment.insert(QStringLiteral("XDG_DATA_DIRS"), dir.filePath(QStringLiteral("system")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_CONFIG_DIRS"), dir.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    for (const char* name : {"XDG_CURRENT_DESKTOP", "KDE_SESSION_VERSION", "KDE_FULL_SESSION", "DESKTOP_SESSION"})
        environment.remove(QString::fromLatin1(name));
    const auto run = [&](const QString& program, const QStringList& arguments) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        EXPECT_TRUE(process.waitForFinished(60000)) << program.toStdString();
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    };
    run(QStringLiteral("update-desktop-database"), {user});
    run(QStringLiteral("update-desktop-database"), {system});

    for (const QString& type : types) {
        const QString handled = type == types.constLast() ? QString() : QStringLiteral("zz-viewer.desktop");
        EXPECT_EQ(run(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"), type}), handled)
            << type.toStdString();
        const QString gio = run(QStringLiteral("gio"), {QStringLiteral("mime"), type});
        EXPECT_FALSE(gio.contains(QStringLiteral("quorvenda"))) << gio.toStdString();
        if (!handled.isEmpty())
            EXPECT_TRUE(gio.startsWith(QStringLiteral("Default application for “%1”: %2").arg(type, handled)))
                << gio.toStdString();
    }
}

TEST(DesktopEntries, TheNautilusScriptPassesAbsolutePaths)
{
    QTemporaryDir dir;
    // A stand-in "quorvenda" that writes down its arguments, one a line.
    const QString bin = dir.filePath(QStringLiteral("bin"));
    const QString record = dir.filePath(QStringLiteral("args.txt"));
    test::writeFile(bin + QStringLiteral("/quorvenda"),
                    "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> \"" + record.toUtf8()
                        + "\"; done\n");
    QFile::setPermissions(bin + QStringLiteral("/quorvenda"),
                          QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const QString shown = dir.filePath(QStringLiteral("shown folder"));
    QDir().mkpath(shown);

    QProcess script;
    script.setWorkingDirectory(shown);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PATH"), bin + QLatin1Char(':') + environment.value("PATH"));
    script.setProcessEnvironment(environment);
    script.start(QStringLiteral("/bin/sh"),
                 {sourceFile(QStringLiteral("data/file-manager/nautilus/convert-with-quorvenda")),
                  QStringLiteral("a photo.jpg"), QStringLiteral("/elsewhere/b.png"),
                  QStringLiteral("-c.txt")});
    ASSERT_TRUE(script.waitForFinished(30000));
    EXPECT_EQ(script.exitCode(), 0);
    EXPECT_EQ(readText(record), shown + QStringLiteral("/a photo.jpg\n/elsewhere/b.png\n") + shown
                                    + QStringLiteral("/-c.txt\n"));
}

TEST(DesktopEntries, InstallPutsThemWhereDesktopsLook)
{
    QTemporaryDir prefix;
    QByteArray output;
    ASSERT_EQ(test::runProgram(QStringLiteral("cmake"),
                               {QStringLiteral("--install"), QStringLiteral(QV_BUILD_DIR),
                                QStringLiteral("--prefix"), prefix.path()},
                               &output),
              0)
        << output.constData();
    const QDir share(prefix.filePath(QStringLiteral("share")));
    EXPECT_TRUE(share.exists(QStringLiteral("applications/quorvenda.desktop")));
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString icon = QStringLiteral("icons/hicolor/%1x%1/apps/quorvenda.png").arg(size);
        EXPECT_TRUE(share.exists(icon)) << icon.toStdString();
        EXPECT_EQ(QImage(share.filePath(icon)).size(), QSize(size, size)) << icon.toStdString();
    }
    EXPECT_TRUE(share.exists(QStringLiteral("nemo/actions/quorvenda.nemo_action")));
    EXPECT_TRUE(share.exists(QStringLiteral("quorvenda/thunar/quorvenda-uca.xml")));
    const QFileInfo dolphin(share.filePath(QStringLiteral("kio/servicemenus/quorvenda-convert.desktop")));
    EXPECT_TRUE(dolphin.isExecutable());
    const QFileInfo nautilus(share.filePath(QStringLiteral("quorvenda/nautilus-scripts/Convert with Quorvenda")));
    EXPECT_TRUE(nautilus.isExecutable());

    // The one command that sets up Nautilus and Thunar, which read entries only from the user's
    // folders: Thunar's own actions stay, and a second run adds nothing.
    QTemporaryDir user;
    const QString uca = user.filePath(QStringLiteral("config/Thunar/uca.xml"));
    test::writeFile(uca, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions>\n<action>\n\t<icon>utilities-terminal</icon>\n"
                         "\t<name>Open Terminal Here</name>\n\t<unique-id>1-1</unique-id>\n\t<command>exo-open %f</command>\n"
                         "\t<patterns>*</patterns>\n\t<directories/>\n</action>\n</actions>\n");
    for (int run = 0; run < 2; ++run) {
        QProcess setUp;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), user.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), user.filePath(QStringLiteral("config")));
        setUp.setProcessEnvironment(environment);
        setUp.start(share.filePath(QStringLiteral("quorvenda/set-up-file-managers")), {});
        ASSERT_TRUE(setUp.waitForFinished(30000));
        EXPECT_EQ(setUp.exitCode(), 0) << setUp.readAllStandardError().constData();
    }
    EXPECT_TRUE(QFileInfo(user.filePath(QStringLiteral("data/nautilus/scripts/Convert with Quorvenda"))).isExecutable());
    QFile actions(uca);
    ASSERT_TRUE(actions.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&actions);
    QStringList commands;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("command"))
            commands.append(xml.readElementText());
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(commands, (QStringList{QStringLiteral("exo-open %f"), QStringLiteral("quorvenda %F")}));
}
