#include "model/files/FileFormat.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QImage>
#include <QTemporaryDir>

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

TEST(DesktopEntries, OpenWithOffersEveryCatalogueFormat)
{
    const QString entry = readText(sourceFile(QStringLiteral("data/quorvenda.desktop")));
    ASSERT_TRUE(entry.startsWith(QStringLiteral("[Desktop Entry]\n")));
    EXPECT_EQ(entryValue(entry, QStringLiteral("Exec")), QStringLiteral("quorvenda %F"));
    EXPECT_EQ(entryValue(entry, QStringLiteral("Type")), QStringLiteral("Application"));
    // The installed icon (share/icons/hicolor), which menus and Open With show.
    EXPECT_EQ(entryValue(entry, QStringLiteral("Icon")), QStringLiteral("quorvenda"));

    const QString mimeTypes = entryValue(entry, QStringLiteral("MimeType"));
    EXPECT_TRUE(mimeTypes.endsWith(QLatin1Char(';')));
    const QStringList listed = mimeTypes.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    QSet<QString> catalogue;
    for (const FileFormat& format : formatCatalogue())
        catalogue.insert(format.mimeType);
    EXPECT_EQ(QSet<QString>(listed.begin(), listed.end()), catalogue);
    EXPECT_EQ(listed.size(), catalogue.size()) << "a type is listed twice";

    // Every context-menu entry runs the same command with the selected items.
    for (const QString& file : {QStringLiteral("data/file-manager/dolphin/quorvenda-convert.desktop"),
                                QStringLiteral("data/file-manager/nemo/quorvenda.nemo_action")})
        EXPECT_EQ(entryValue(readText(sourceFile(file)), QStringLiteral("Exec")),
                  QStringLiteral("quorvenda %F"))
            << file.toStdString();
    EXPECT_TRUE(readText(sourceFile(QStringLiteral("data/file-manager/thunar/quorvenda-uca.xml")))
                    .contains(QStringLiteral("<command>quorvenda %F</command>")));
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
}
