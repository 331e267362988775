#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

namespace {

int colourDistance(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}

// The driver with settings of its own, so the accent colour is the default one.
class RenderDemo : public ::testing::Test {
protected:
    int run(const QStringList& args)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QUORVENDA_SETTINGS_FILE"), dir.filePath(QStringLiteral("settings.json")));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QStringLiteral(QV_BUILD_DIR "/quorvenda-dev"), QStringList{QStringLiteral("render-demo")} + args);
        if (!process.waitForStarted(10000) || !process.waitForFinished(60000))
            return -1;
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QImage at(const QString& time)
    {
        const QString out = dir.filePath(QStringLiteral("t%1.png").arg(time));
        if (run({QStringLiteral("--time"), time, QStringLiteral("--out"), out}) != 0)
            return {};
        return QImage(out).convertToFormat(QImage::Format_ARGB32);
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(RenderDemo, FramesFollowTheStory)
{
    ASSERT_TRUE(dir.isValid());
    const QImage rest = at(QStringLiteral("0.2"));
    ASSERT_EQ(rest.size(), QSize(596, 210));
    EXPECT_EQ(rest.pixel(80, 128), qRgb(255, 255, 255)); // the file at home

    const QImage wheel = at(QStringLiteral("2.5"));
    ASSERT_FALSE(wheel.isNull());
    EXPECT_EQ(wheel.pixel(282, 110), qRgb(0x4C, 0x6E, 0xF5)); // the hub

    const QImage result = at(QStringLiteral("4.0"));
    ASSERT_FALSE(result.isNull());
    EXPECT_EQ(result.pixel(84, 72), qRgb(0x34, 0xC7, 0x59)); // the result's badge

    const QImage empty = at(QStringLiteral("6.4"));
    ASSERT_FALSE(empty.isNull());
    EXPECT_EQ(result.pixel(282, 110), empty.pixel(282, 110)); // the hub is gone
    EXPECT_LE(colourDistance(empty.pixel(8, 8), qRgb(0xDC, 0xE6, 0xFF)), 1);
    EXPECT_LE(colourDistance(empty.pixel(587, 201), qRgb(0xF8, 0xE1, 0xD6)), 1);
    EXPECT_EQ(empty, at(QStringLiteral("6.45")));
    // Only the gradient: every pixel away from the rounded corners lies on it.
    const double w = 596, h = 210;
    for (int y = 0; y < 210; ++y) {
        for (int x = 16; x < 580; ++x) {
            const double f = ((x + 0.5) * w + (y + 0.5) * h) / (w * w + h * h);
            const QRgb expected = qRgb(int(std::lround(0xDC + f * (0xF8 - 0xDC))),
                                       int(std::lround(0xE6 + f * (0xE1 - 0xE6))),
                                       int(std::lround(0xFF + f * (0xD6 - 0xFF))));
            ASSERT_LE(colourDistance(empty.pixel(x, y), expected), 2) << x << "," << y;
        }
    }
    // Outside the rounded rectangle nothing is drawn.
    EXPECT_EQ(qAlpha(empty.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(empty.pixel(595, 209)), 0);
}

TEST_F(RenderDemo, SizeAndArguments)
{
    ASSERT_TRUE(dir.isValid());
    const QString out = dir.filePath(QStringLiteral("small.png"));
    ASSERT_EQ(run({QStringLiteral("--time"), QStringLiteral("2.5"), QStringLiteral("--size"),
                   QStringLiteral("300x120"), QStringLiteral("--out"), out}),
              0);
    EXPECT_EQ(QImage(out).size(), QSize(300, 120));

    // A picture never overwrites a file.
    QFile file(out);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    EXPECT_EQ(run({QStringLiteral("--time"), QStringLiteral("1"), QStringLiteral("--out"), out}), 1);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);

    const QString other = dir.filePath(QStringLiteral("other.png"));
    EXPECT_EQ(run({QStringLiteral("--out"), other}), 2);
    EXPECT_EQ(run({QStringLiteral("--time"), QStringLiteral("soon"), QStringLiteral("--out"), other}), 2);
    EXPECT_EQ(run({QStringLiteral("--time"), QStringLiteral("1"), QStringLiteral("--size"),
                   QStringLiteral("0x10"), QStringLiteral("--out"), other}),
              2);
    EXPECT_EQ(run({QStringLiteral("--time"), QStringLiteral("1")}), 2);
    EXPECT_FALSE(QFile::exists(other));
}
