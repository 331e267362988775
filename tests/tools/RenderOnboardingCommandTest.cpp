#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

using namespace qv::test;

namespace {

class RenderOnboarding : public ::testing::Test {
protected:
    // The driver's exit code, -1 when it did not end in time.
    int render(const QString& out, const QStringList& limit = {})
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("QUORVENDA_SETTINGS_FILE"), dir.filePath(QStringLiteral("settings.json")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), dir.filePath(QStringLiteral("cache")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const QStringList command{QStringLiteral(QV_BUILD_DIR "/quorvenda-dev"),
                                  QStringLiteral("render-onboarding"), QStringLiteral("--out"), out};
        // A limit runs the driver under prlimit.
        if (limit.isEmpty())
            process.start(command.first(), command.mid(1));
        else
            process.start(QStringLiteral("prlimit"), limit + QStringList{QStringLiteral("--")} + command);
        if (!process.waitForFinished(30000))
            return -1;
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QString photo() const
    {
        return dir.filePath(QStringLiteral("data/quorvenda/Practice/Practice Photo.heic"));
    }

    QTemporaryDir dir;
};

TEST_F(RenderOnboarding, DrawsTheWindowAndMakesThePhotoOnce)
{
    const QString out = dir.filePath(QStringLiteral("window.png"));
    ASSERT_EQ(render(out), 0);
    const QImage window(out);
    ASSERT_FALSE(window.isNull());
    EXPECT_EQ(window.width(), 660);
    EXPECT_EQ(window.devicePixelRatio(), 1);

    QByteArray header;
    ASSERT_EQ(runProgram(QStringLiteral("vipsheader"), {QStringLiteral("-a"), photo()}, &header), 0);
    EXPECT_TRUE(header.contains("1200x800")) << header.constData();
    EXPECT_TRUE(header.contains("heif-compression: hevc")) << header.constData();

    const QByteArray bytes = readFile(photo());
    ASSERT_EQ(render(dir.filePath(QStringLiteral("again.png"))), 0);
    EXPECT_EQ(readFile(photo()), bytes);
}

TEST_F(RenderOnboarding, KeepsAFileOfThePhotosNameThatIsNoPicture)
{
    QDir().mkpath(QFileInfo(photo()).path());
    writeFile(photo(), "not a picture");
    ASSERT_EQ(render(dir.filePath(QStringLiteral("window.png"))), 0);
    EXPECT_EQ(readFile(photo()), QByteArray("not a picture"));
}

TEST_F(RenderOnboarding, APhotoCutShortByTheProcessDyingIsNeverTakenForThePhoto)
{
    // Past 8 KB a write kills the process (SIGXFSZ), half way through the photo.
    const int died = render(dir.filePath(QStringLiteral("window.png")), {QStringLiteral("--fsize=8192")});
    ASSERT_NE(died, 0);
    EXPECT_FALSE(QFileInfo::exists(photo()));

    ASSERT_EQ(render(dir.filePath(QStringLiteral("window.png"))), 0);
    QByteArray header;
    ASSERT_EQ(runProgram(QStringLiteral("vipsheader"), {photo()}, &header), 0);
    EXPECT_TRUE(header.contains("1200x800")) << header.constData();
}

} // namespace
