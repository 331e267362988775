#include "platform/desktop/SingleInstance.h"
#include "support/PrivateBusTest.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <optional>

using namespace qv;
using qv::test::waitFor;

namespace {

const QString launcher = QStringLiteral(QV_BUILD_DIR "/quorvenda");

class LauncherBus : public test::PrivateBusTest {
protected:
    // `quorvenda` with these arguments on the private bus, the application replaced by app.
    void start(QProcess& process, const QStringList& arguments, const QString& app)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QUORVENDA_TEST_HARNESS"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        env.insert(QStringLiteral("QUORVENDA_APP"), app);
        process.setProcessEnvironment(env);
        process.start(launcher, arguments);
        ASSERT_TRUE(process.waitForStarted(10000));
    }

    // A stand-in for the application that writes its arguments, a line each, to said and ends
    // with 7.
    static QString recordingApplication(const QTemporaryDir& folder, const QString& said)
    {
        const QString app = test::writeFile(folder.filePath(QStringLiteral("app")),
                                            "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + said.toUtf8() + "'\nexit 7\n");
        QFile::setPermissions(app, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return app;
    }

    // The shared libraries a program of the build loads.
    static QString librariesOf(const QString& program)
    {
        QProcess ldd;
        ldd.start(QStringLiteral("ldd"), {QStringLiteral(QV_BUILD_DIR "/") + program});
        return ldd.waitForFinished(30000) ? QString::fromUtf8(ldd.readAllStandardOutput()) : QString();
    }
};

} // namespace

TEST_F(LauncherBus, HandsItsFilesToTheRunningQuorvendaAndEnds)
{
    const QDBusConnection bus = connection(QStringLiteral("running"));
    SingleInstance running(bus);
    ASSERT_TRUE(running.registerPrimary());
    QList<QList<QUrl>> received;
    QObject::connect(&running, &SingleInstance::filesReceived, [&](const QList<QUrl>& urls) { received.append(urls); });

    QProcess process;
    start(process, {QStringLiteral("/tmp/a photo.jpg")}, QStringLiteral("/bin/false"));
    ASSERT_TRUE(waitFor([&] { return process.state() == QProcess::NotRunning; }, 30000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << "it started the application instead";
    EXPECT_EQ(received, (QList<QList<QUrl>>{{QUrl::fromLocalFile(QStringLiteral("/tmp/a photo.jpg"))}}));
}

TEST_F(LauncherBus, WithNoneRunningItBecomesTheApplicationWithItsArguments)
{
    QTemporaryDir folder;
    const QString said = folder.filePath(QStringLiteral("arguments"));
    const QString app = recordingApplication(folder, said);
    QProcess process;
    start(process, {QStringLiteral("a.png"), QStringLiteral("b c.pdf")}, app);
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 7);
    EXPECT_EQ(test::readFile(said), "a.png\nb c.pdf\n");
}

TEST_F(LauncherBus, TheApplicationStartsWithHugePagesForItsMallocAndTheUsersTunablesAreKept)
{
    QTemporaryDir folder;
    const QString said = folder.filePath(QStringLiteral("said"));
    // A stand-in that grows its heap, then writes the variables and its heap's flags.
    const QString app = test::writeFile(folder.filePath(QStringLiteral("app")),
                                        QByteArrayLiteral(R"(#!/bin/sh
x=$(seq 1 20000)
{ printf '%s\n' "${GLIBC_TUNABLES-unset}" "${QUORVENDA_HUGE_PAGE_MALLOC-unset}"
  grep -A40 ' \[heap\]$' /proc/$$/smaps | grep -m1 VmFlags; } > "$SAID"
exit 7
)"));
    QFile::setPermissions(app, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    // The launcher started with these glibc tunables, or none; what the stand-in wrote.
    const auto launch = [&](const std::optional<QString>& tunables) {
        QFile::remove(said);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QUORVENDA_TEST_HARNESS"));
        env.remove(QStringLiteral("GLIBC_TUNABLES"));
        if (tunables)
            env.insert(QStringLiteral("GLIBC_TUNABLES"), *tunables);
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        env.insert(QStringLiteral("QUORVENDA_APP"), app);
        env.insert(QStringLiteral("SAID"), said);
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(launcher, {});
        EXPECT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitCode(), 7);
        return test::readFile(said).split('\n');
    };

    const QList<QByteArray> lines = launch(std::nullopt);
    ASSERT_GE(lines.size(), 3) << lines.join('\n').toStdString();
    EXPECT_EQ(lines[0], "glibc.malloc.hugetlb=1");
    EXPECT_EQ(lines[1], "1");
    // glibc took it: its heap is one the kernel may back with 2 MB pages.
    QFile transparent(QStringLiteral("/sys/kernel/mm/transparent_hugepage/enabled"));
    if (transparent.open(QIODevice::ReadOnly) && !transparent.readAll().contains("[never]")) {
        EXPECT_TRUE(lines[2].split(' ').contains("hg")) << lines[2].toStdString();
    }

    const QList<QByteArray> users = launch(QStringLiteral("glibc.malloc.check=3"));
    ASSERT_GE(users.size(), 2) << users.join('\n').toStdString();
    EXPECT_EQ(users[0], "glibc.malloc.check=3");
    EXPECT_EQ(users[1], "unset");
}

TEST_F(LauncherBus, TheForwardingPathAndTheWorkersLoadWhatTheyNeed)
{
    const QString forwarding = librariesOf(QStringLiteral("quorvenda"));
    ASSERT_TRUE(forwarding.contains(QStringLiteral("libQt6DBus"))) << forwarding.toStdString();
    EXPECT_FALSE(forwarding.contains(QStringLiteral("libQt6Gui"))) << forwarding.toStdString();
    EXPECT_FALSE(forwarding.contains(QStringLiteral("libvips"))) << forwarding.toStdString();
    // OpenCV, Tesseract and ZXing are the vision module's alone.
    for (const QString& program : {QStringLiteral("quorvenda-app"), QStringLiteral("quorvenda-worker"),
                                   QStringLiteral("quorvenda-dev")}) {
        const QString libraries = librariesOf(program);
        ASSERT_TRUE(libraries.contains(QStringLiteral("libQt6Core"))) << program.toStdString();
        for (const QString& heavy : {QStringLiteral("libopencv"), QStringLiteral("libtesseract"),
                                     QStringLiteral("libZXing"), QStringLiteral("libgdal")})
            EXPECT_FALSE(libraries.contains(heavy)) << program.toStdString() << " loads " << heavy.toStdString();
    }
}

TEST_F(LauncherBus, HelpAndVersionArePrintedAndAFileNamedLikeThemIsReachedAfterTwoDashes)
{
    QTemporaryDir folder;
    const QString said = folder.filePath(QStringLiteral("arguments"));
    const QString app = recordingApplication(folder, said);

    // Neither starts the application nor asks the running one for a wheel.
    for (const QString& option : {QStringLiteral("--help"), QStringLiteral("-h")}) {
        QProcess help;
        start(help, {option}, app);
        ASSERT_TRUE(help.waitForFinished(30000));
        EXPECT_EQ(help.exitCode(), 0);
        const QString text = QString::fromUtf8(help.readAllStandardOutput());
        EXPECT_TRUE(text.startsWith(QStringLiteral("Usage: quorvenda"))) << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("--convert-copied"))) << text.toStdString();
    }
    QProcess version;
    start(version, {QStringLiteral("--version")}, app);
    ASSERT_TRUE(version.waitForFinished(30000));
    EXPECT_EQ(version.exitCode(), 0);
    EXPECT_TRUE(QString::fromUtf8(version.readAllStandardOutput()).contains(QRegularExpression(QStringLiteral("^Quorvenda \\d+\\.\\d+\\.\\d+\\n$"))));
    EXPECT_FALSE(QFile::exists(said));

    // The application prints them alone too, before it looks for a display.
    QProcess direct;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    direct.setProcessEnvironment(env);
    direct.start(QStringLiteral(QV_BUILD_DIR "/quorvenda-app"), {QStringLiteral("--version")});
    ASSERT_TRUE(direct.waitForFinished(30000));
    EXPECT_EQ(direct.exitCode(), 0);
    EXPECT_TRUE(direct.readAllStandardOutput().startsWith("Quorvenda "));

    // After "--" it is a file's name, handed on as one.
    const QDBusConnection bus = connection(QStringLiteral("running"));
    SingleInstance running(bus);
    ASSERT_TRUE(running.registerPrimary());
    QList<QList<QUrl>> received;
    QObject::connect(&running, &SingleInstance::filesReceived, [&](const QList<QUrl>& urls) { received.append(urls); });
    QProcess file;
    file.setWorkingDirectory(folder.path());
    start(file, {QStringLiteral("--"), QStringLiteral("--help")}, QStringLiteral("/bin/false"));
    ASSERT_TRUE(waitFor([&] { return file.state() == QProcess::NotRunning; }, 30000));
    EXPECT_EQ(file.exitCode(), 0);
    EXPECT_EQ(received, (QList<QList<QUrl>>{{QUrl::fromLocalFile(folder.filePath(QStringLiteral("--help")))}}));
}
