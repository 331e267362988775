#include "editors/EditorPicture.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QColor>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace qv;

TEST(EditorPicture, PicturesOfEveryKindShowTheirOwnColoursAndTransparency)
{
    QTemporaryDir dir;
    struct Case {
        const char* name;
        QStringList make; // ImageMagick's arguments before the file
        QColor expected;
        int tolerance;
        bool alpha;
    };
    const QList<Case> cases{
        // Full magenta and yellow ink print a slightly dull red through the usual press profile.
        {"cmyk.jpg", {"-size", "64x64", "xc:red", "-colorspace", "CMYK"}, QColor(236, 33, 40), 25, false},
        {"grey16.png", {"-size", "64x64", "xc:gray(50%)", "-colorspace", "Gray", "-depth", "16"}, QColor(128, 128, 128), 4, false},
        {"greyalpha.png", {"-size", "64x64", "xc:graya(50%,0.5)"}, QColor(128, 128, 128), 4, true},
        {"palette.png", {"-size", "64x64", "xc:#3366CC", "-type", "Palette"}, QColor(0x33, 0x66, 0xCC), 2, false},
    };
    for (const Case& c : cases) {
        const QString path = dir.filePath(c.name);
        ASSERT_EQ(QProcess::execute("convert", c.make + QStringList{path}), 0) << c.name;
        const EditorPicture picture = EditorPicture::load(path, 1600);
        EXPECT_EQ(picture.pixelSize, QSize(64, 64)) << c.name;
        const QColor shown = picture.preview.pixelColor(32, 32);
        EXPECT_NEAR(shown.red(), c.expected.red(), c.tolerance) << c.name;
        EXPECT_NEAR(shown.green(), c.expected.green(), c.tolerance) << c.name;
        EXPECT_NEAR(shown.blue(), c.expected.blue(), c.tolerance) << c.name;
        EXPECT_EQ(picture.hasAlpha, c.alpha) << c.name;
    }
}

TEST(EditorPicture, WhatIsNoWholePictureIsRefused)
{
    QTemporaryDir dir;
    const auto written = [&](const QString& name, const QByteArray& bytes) {
        QFile out(dir.filePath(name));
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        EXPECT_EQ(out.write(bytes), bytes.size());
        out.close();
        return dir.filePath(name);
    };
    QImage photo(400, 400, QImage::Format_RGB32);
    for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 400; ++x)
            photo.setPixel(x, y, qRgb(x % 256, y % 256, (x * y) % 256));
    const auto encoded = [&photo](const char* format) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        photo.save(&buffer, format, 90);
        return bytes;
    };
    const QByteArray png = encoded("PNG");
    const QByteArray jpeg = encoded("JPEG");
    EXPECT_EQ(EditorPicture::load(written("whole.jpg", jpeg), 1400).preview.size(), QSize(400, 400));
    EXPECT_EQ(EditorPicture::load(written("whole.png", png), 1400).pixelSize, QSize(400, 400));
    // Cut short, a picture would show partly grey: it is refused instead.
    EXPECT_THROW(EditorPicture::load(written("cut.jpg", jpeg.left(jpeg.size() * 6 / 10)), 1400), std::exception);
    EXPECT_THROW(EditorPicture::load(written("cut.png", png.left(png.size() / 2)), 1400), std::exception);
    EXPECT_THROW(EditorPicture::load(written("empty.png", {}), 1400), std::exception);
    EXPECT_THROW(EditorPicture::load(written("text.jpg", "this is no picture"), 1400), std::exception);
    EXPECT_THROW(EditorPicture::load(written("header.jpg", QByteArray::fromHex("ffd8ffe000104a464946")), 1400),
                 std::exception);
}
