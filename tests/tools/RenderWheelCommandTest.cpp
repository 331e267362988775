#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

using namespace qv::test;

namespace {

int colourDistance(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
}

} // namespace

TEST(DevDriver, RenderWheelDrawsTheWheelIntoAPicture)
{
    const QString driver = QStringLiteral(QV_BUILD_DIR "/quorvenda-dev");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QImage photo(64, 48, QImage::Format_RGB32);
    photo.fill(QColor(200, 40, 40));
    const QString input = dir.filePath(QStringLiteral("a.jpg"));
    ASSERT_TRUE(photo.save(input, "JPEG"));
    const QString out = dir.filePath(QStringLiteral("w.png"));

    ASSERT_EQ(runProgram(driver, {QStringLiteral("render-wheel"), QStringLiteral("convert"), input,
                                  QStringLiteral("--out"), out}),
              0);
    const QImage wheel(out);
    ASSERT_FALSE(wheel.isNull());
    // The medium wheel in its panel: 420 points and 48 on every side.
    EXPECT_EQ(wheel.size(), QSize(516, 516));
    const QRgb disc = wheel.pixel(258 - 75, 258);    // the centre disc, beside the picture
    const QRgb ring = wheel.pixel(258 + 148, 258);   // where segment 2 sits
    const QRgb picture = wheel.pixel(258, 258 + 20); // the file's own picture
    EXPECT_GT(colourDistance(disc, ring), 60);
    EXPECT_LT(colourDistance(picture, qRgb(200, 40, 40)), 40);
    EXPECT_EQ(qAlpha(wheel.pixel(2, 2)), 0); // nothing drawn in the corners

    // A full ring with the More ring open makes a larger picture.
    const QString more = dir.filePath(QStringLiteral("more.png"));
    ASSERT_EQ(runProgram(driver, {QStringLiteral("render-wheel"), QStringLiteral("tools"), input,
                                  QStringLiteral("--sample"), QStringLiteral("12"), QStringLiteral("--more"),
                                  QStringLiteral("--highlight"), QStringLiteral("0"), QStringLiteral("--out"), more}),
              0);
    EXPECT_EQ(QImage(more).size(), QSize(591, 591));

    // A result never overwrites a file; bad arguments are refused.
    const QByteArray before = [&] {
        QFile file(out);
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }();
    EXPECT_EQ(runProgram(driver, {QStringLiteral("render-wheel"), QStringLiteral("convert"), input,
                                  QStringLiteral("--out"), out}),
              1);
    QFile again(out);
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_EQ(again.readAll(), before);
    EXPECT_EQ(runProgram(driver, {QStringLiteral("render-wheel"), QStringLiteral("sideways"), input,
                                  QStringLiteral("--out"), dir.filePath(QStringLiteral("x.png"))}),
              2);
    EXPECT_EQ(runProgram(driver, {QStringLiteral("render-wheel"), QStringLiteral("convert"), input}), 2);
}
