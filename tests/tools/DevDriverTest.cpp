#include "support/DevDriver.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

using namespace qv::test;

namespace {

const QString driver = QStringLiteral(QV_BUILD_DIR "/quorvenda-dev");

} // namespace

TEST(DevDriver, InfoPrintsOneJsonLinePerPath)
{
    QTemporaryDir dir;
    const QString folder = dir.path();
    QByteArray output;
    ASSERT_EQ(runProgram(driver, {QStringLiteral("info"), folder + QStringLiteral("/x.TAR.GZ"), folder},
                         &output),
              0);
    QList<QByteArray> lines = output.trimmed().split('\n');
    lines.removeIf([](const QByteArray& line) { return !line.startsWith('{'); });
    ASSERT_EQ(lines.size(), 2);

    const QJsonObject archive = QJsonDocument::fromJson(lines[0]).object();
    EXPECT_EQ(archive.size(), 13);
    EXPECT_EQ(archive.value(QStringLiteral("ext")).toString(), QStringLiteral("tar.gz"));
    EXPECT_EQ(archive.value(QStringLiteral("baseName")).toString(), QStringLiteral("x"));
    EXPECT_EQ(archive.value(QStringLiteral("category")).toString(), QStringLiteral("archive"));
    EXPECT_EQ(archive.value(QStringLiteral("format")).toString(), QStringLiteral("tar.gz"));
    EXPECT_TRUE(archive.value(QStringLiteral("contentType")).isNull());

    const QJsonObject dirInfo = QJsonDocument::fromJson(lines[1]).object();
    EXPECT_TRUE(dirInfo.value(QStringLiteral("format")).isNull());
    EXPECT_TRUE(dirInfo.value(QStringLiteral("isDirectory")).toBool());
    EXPECT_EQ(dirInfo.value(QStringLiteral("category")).toString(), QStringLiteral("folder"));

    EXPECT_EQ(runProgram(driver, {QStringLiteral("no-such-command")}), 2);
}

TEST(DevDriver, CapabilitiesShowTextRecognitionAndSubjectLifting)
{
    QTemporaryDir home;
    int exitCode = -1;
    const QJsonObject caps =
        QJsonDocument::fromJson(runDevDriver({QStringLiteral("capabilities")}, home.path(), &exitCode)).object();
    EXPECT_EQ(exitCode, 0);
    // The English data and OpenCV's saliency module are installed on this machine.
    EXPECT_EQ(caps.value(QStringLiteral("textRecognition")), QJsonValue(true));
    EXPECT_EQ(caps.value(QStringLiteral("subjectLifting")), QJsonValue(true));
}
