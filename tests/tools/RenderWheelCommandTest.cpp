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

TEST(DevDriver, RenderWheelShowsAPictureOfEveryKindItCanRead)
{
    const QString driver = QStringLiteral(QV_BUILD_DIR "/quorvenda-dev");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto path = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)); };

    // A red page, a red video, a red HEIC photo, and a document with nothing to show but its kind.
    QFile script(path("page.ps"));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("%!PS\n<< /PageSize [300 300] >> setpagedevice\n1 0 0 setrgbcolor 0 0 300 300 rectfill\nshowpage\n");
    script.close();
    if (runProgram(QStringLiteral("gs"), {"-q", "-sDEVICE=pdfwrite", "-o", path("page.pdf"), path("page.ps")}) != 0)
        GTEST_SKIP() << "Ghostscript cannot make the PDF";
    if (runProgram(QStringLiteral("ffmpeg"), {"-loglevel", "error", "-f", "lavfi", "-i", "color=c=red:s=160x120:d=2",
                                              "-pix_fmt", "yuv420p", path("clip.mp4")}) != 0)
        GTEST_SKIP() << "FFmpeg cannot make the video";
    QImage red(120, 90, QImage::Format_RGB32);
    red.fill(QColor(255, 0, 0));
    ASSERT_TRUE(red.save(path("red.png")));
    if (runProgram(QStringLiteral("vips"), {"copy", path("red.png"), path("photo.heic")}) != 0)
        GTEST_SKIP() << "libvips cannot write HEIC";
    QFile markdown(path("notes.md"));
    ASSERT_TRUE(markdown.open(QIODevice::WriteOnly));
    markdown.write("# Notes\n\nText.\n");
    markdown.close();
    if (runProgram(QStringLiteral("pandoc"), {path("notes.md"), "-o", path("report.docx")}) != 0)
        GTEST_SKIP() << "pandoc cannot make the document";

    // The same document with the preview picture Office saves into it.
    if (runProgram(QStringLiteral("/usr/bin/python3"),
                   {"-c", "import shutil, sys, zipfile\n"
                          "shutil.copy(sys.argv[1], sys.argv[2])\n"
                          "zipfile.ZipFile(sys.argv[2], 'a').write(sys.argv[3], 'docProps/thumbnail.png')\n",
                    path("report.docx"), path("previewed.docx"), path("red.png")})
        != 0)
        GTEST_SKIP() << "python3 cannot add the preview";

    for (const char* name : {"page.pdf", "clip.mp4", "photo.heic", "report.docx", "previewed.docx"}) {
        SCOPED_TRACE(name);
        const QString out = path("wheel.png") + QString::fromLatin1(name);
        ASSERT_EQ(runProgram(driver, {QStringLiteral("render-wheel"), QStringLiteral("convert"), path(name),
                                      QStringLiteral("--out"), out}),
                  0);
        const QImage wheel(out);
        ASSERT_FALSE(wheel.isNull());
        const QRgb disc = wheel.pixel(258 - 75, 258);
        const QRgb picture = wheel.pixel(258, 258 + 20);
        if (QLatin1String(name) == QLatin1String("report.docx"))
            EXPECT_GT(colourDistance(picture, disc), 60); // our drawing of a document, not the bare disc
        else
            EXPECT_LT(colourDistance(picture, qRgb(255, 0, 0)), 60);
    }
}
