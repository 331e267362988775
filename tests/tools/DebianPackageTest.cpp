#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

struct ProgramRun {
    int code = -1;
    QString output;
};

// Packing strips and compresses some 150 MB: minutes on a busy machine.
ProgramRun run(const QString& program, const QStringList& args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    ProgramRun result;
    if (!process.waitForStarted(10000) || !process.waitForFinished(15 * 60 * 1000))
        return result;
    result.output = QString::fromUtf8(process.readAll());
    if (process.exitStatus() == QProcess::NormalExit)
        result.code = process.exitCode();
    return result;
}

QString controlField(const QString& info, const QString& name)
{
    for (const QString& line : info.split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(name + QStringLiteral(": ")))
            return trimmed.mid(name.size() + 2);
    }
    return {};
}

} // namespace

TEST(DebianPackage, HoldsTheProgramsAndDesktopFilesAndItsDependsResolve)
{
    for (const char* tool : {"cpack", "dpkg-deb", "dpkg-shlibdeps", "apt-get"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            GTEST_SKIP() << tool << " is not installed";
    }
    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());
    const ProgramRun pack = run(QStringLiteral("cpack"),
                         {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
                          QStringLiteral(QV_BUILD_DIR "/CPackConfig.cmake"), QStringLiteral("-B"),
                          out.path()});
    ASSERT_EQ(pack.code, 0) << pack.output.toStdString();
    const QStringList debs = QDir(out.path()).entryList({QStringLiteral("quorvenda_*.deb")});
    ASSERT_EQ(debs.size(), 1) << pack.output.toStdString();
    const QString deb = out.filePath(debs.first());

    const ProgramRun contents = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), deb});
    ASSERT_EQ(contents.code, 0) << contents.output.toStdString();
    for (const char* path :
         {"./usr/bin/quorvenda", "./usr/bin/quorvenda-app", "./usr/bin/quorvenda-worker",
          "./usr/lib/quorvenda/quorvenda-vision.so", "./usr/bin/quorvenda-player", "./usr/bin/quorvenda-dev",
          "./usr/share/applications/quorvenda.desktop",
          "./usr/share/icons/hicolor/48x48/apps/quorvenda.png",
          "./usr/share/icons/hicolor/256x256/apps/quorvenda.png",
          "./usr/share/kio/servicemenus/quorvenda-convert.desktop",
          "./usr/share/nemo/actions/quorvenda.nemo_action",
          "./usr/share/quorvenda/nautilus-scripts/Convert with Quorvenda",
          "./usr/share/quorvenda/thunar/quorvenda-uca.xml",
          "./usr/share/quorvenda/set-up-file-managers",
          "./usr/share/gnome-shell/extensions/quorvenda@quorvenda.org/metadata.json",
          "./usr/share/gnome-shell/extensions/quorvenda@quorvenda.org/extension.js"})
        EXPECT_TRUE(contents.output.contains(QLatin1String(path))) << path;
    // The subject model comes along when it was fetched.
    if (QFile::exists(QStringLiteral(QV_SOURCE_DIR "/data/models/subject-mask.onnx"))) {
        EXPECT_TRUE(contents.output.contains(QStringLiteral("./usr/share/quorvenda/subject-mask.onnx")));
    }
    // Nothing of the build or the tests comes along.
    EXPECT_FALSE(contents.output.contains(QStringLiteral("test_"))) << contents.output.toStdString();
    // The private libraries: the vision module, and where the build made it, the list libvips
    // is opened through.
    QStringList libraries;
    for (const QString& line : contents.output.split(QLatin1Char('\n'))) {
        if (line.contains(QStringLiteral("./usr/lib/")) && !line.endsWith(QLatin1Char('/')))
            libraries += line.section(QLatin1Char(' '), -1);
    }
    libraries.sort();
    QStringList expected{QStringLiteral("./usr/lib/quorvenda/quorvenda-vision.so")};
    if (QFile::exists(QStringLiteral(QV_BUILD_DIR "/quorvenda-vips.so")))
        expected.prepend(QStringLiteral("./usr/lib/quorvenda/quorvenda-vips.so"));
    EXPECT_EQ(libraries, expected);

    const ProgramRun info = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-I"), deb});
    ASSERT_EQ(info.code, 0) << info.output.toStdString();
    EXPECT_EQ(controlField(info.output, QStringLiteral("Package")), QStringLiteral("quorvenda"));
    const QString depends = controlField(info.output, QStringLiteral("Depends"));
    // The programs we start, and the libraries the binaries link (found by dpkg-shlibdeps).
    for (const char* package : {"ffmpeg", "pandoc", "ghostscript", "tesseract-ocr-eng",
                                "gstreamer1.0-libav", "libvips42", "libqpdf29", "libqt6widgets6",
                                "libseccomp2", "libtesseract5", "libopencv-dnn"})
        EXPECT_TRUE(depends.contains(QLatin1String(package))) << package << " in " << depends.toStdString();
    EXPECT_TRUE(controlField(info.output, QStringLiteral("Recommends")).contains(QStringLiteral("libreoffice")));
    // Qt's test library is the tests' own, and there is no web page to name.
    EXPECT_FALSE(depends.contains(QStringLiteral("libqt6test"))) << depends.toStdString();
    EXPECT_FALSE(info.output.contains(QStringLiteral("Homepage:"))) << info.output.toStdString();

    const ProgramRun simulate = run(QStringLiteral("apt-get"),
                             {QStringLiteral("install"), QStringLiteral("--simulate"),
                              QStringLiteral("--no-install-recommends"), deb});
    EXPECT_EQ(simulate.code, 0) << simulate.output.toStdString();
    EXPECT_TRUE(simulate.output.contains(QStringLiteral("Inst quorvenda"))) << simulate.output.toStdString();
}
