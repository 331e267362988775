#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QUrl>
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

namespace {

// The wheel with the file's picture in its centre, drawn by the driver under this cache and
// data folder.
QImage wheelOf(const QString& file, const QString& cache, const QString& data, const QString& out)
{
    const QByteArray oldCache = qgetenv("XDG_CACHE_HOME");
    const QByteArray oldData = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache));
    qputenv("XDG_DATA_HOME", QFile::encodeName(data));
    const int code = runProgram(QStringLiteral(QV_BUILD_DIR "/quorvenda-dev"),
                                {QStringLiteral("render-wheel"), QStringLiteral("actions"), file, QStringLiteral("--out"), out});
    qputenv("XDG_CACHE_HOME", oldCache);
    qputenv("XDG_DATA_HOME", oldData);
    if (code != 0)
        return {};
    return QImage(out);
}

// The colour at the middle of the centre picture.
QRgb centreColour(const QString& file, const QString& cache, const QString& data, const QString& out)
{
    const QImage wheel = wheelOf(file, cache, data, out);
    return wheel.isNull() ? 0 : wheel.pixel(258, 258 + 10);
}

// A page written on: white with some dark ink, in the middle of the centre.
bool showsAWrittenPage(const QImage& wheel)
{
    int white = 0;
    int ink = 0;
    for (int y = 258 - 24; y <= 258 + 24; ++y) {
        for (int x = 258 - 16; x <= 258 + 16; ++x) {
            const QColor c = wheel.pixelColor(x, y);
            white += c.red() > 240 && c.green() > 240 && c.blue() > 240;
            ink += qGray(c.rgb()) < 130;
        }
    }
    return white > 600 && ink > 4;
}

// A cached picture as a file manager leaves it for the file.
void writeCachedPicture(const QString& cache, const QString& file, const QColor& colour)
{
    const QByteArray uri = "file://" + QUrl::fromLocalFile(file).toEncoded(QUrl::FullyEncoded).mid(7);
    const QString name = QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex());
    QDir().mkpath(cache + "/thumbnails/large");
    QImage image(256, 192, QImage::Format_RGB32);
    image.fill(colour);
    image.setText("Thumb::URI", QString::fromLatin1(uri));
    image.setText("Thumb::MTime", QString::number(QFileInfo(file).lastModified().toSecsSinceEpoch()));
    image.setText("Thumb::Size", QString::number(QFileInfo(file).size()));
    ASSERT_TRUE(image.save(cache + "/thumbnails/large/" + name + ".png"));
}

// An e-book whose cover is a blue picture.
constexpr char makeEpub[] = R"(import sys, zipfile, struct, zlib
def png(w, h, rgb):
    raw = b''.join(b'\x00' + bytes(rgb) * w for _ in range(h))
    def chunk(t, d): return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))
z = zipfile.ZipFile(sys.argv[1], 'w')
z.writestr(zipfile.ZipInfo('mimetype'), 'application/epub+zip')
z.writestr('META-INF/container.xml', '<?xml version="1.0"?><container version="1.0" xmlns="urn:oasis:names:tc:opendocument:xmlns:container"><rootfiles><rootfile full-path="OEBPS/content.opf" media-type="application/oebps-package+xml"/></rootfiles></container>')
z.writestr('OEBPS/content.opf', '<?xml version="1.0"?><package xmlns="http://www.idpf.org/2007/opf" version="2.0" unique-identifier="id"><metadata xmlns:dc="http://purl.org/dc/elements/1.1/"><dc:title>Blue</dc:title><dc:identifier id="id">x</dc:identifier><meta name="cover" content="cover-image"/></metadata><manifest><item id="cover-image" href="cover.png" media-type="image/png"/><item id="text" href="text.xhtml" media-type="application/xhtml+xml"/></manifest><spine><itemref idref="text"/></spine></package>')
z.writestr('OEBPS/text.xhtml', '<?xml version="1.0"?><html xmlns="http://www.w3.org/1999/xhtml"><head><title>t</title></head><body><p>Hello</p></body></html>')
z.writestr('OEBPS/cover.png', png(60, 80, (20, 40, 200)))
z.close()
)";

} // namespace

// The centre shows the desktop's picture of a file: a thumbnailer's, run behind the worker's
// walls (the e-book's cover; a text file's where a thumbnailer for text is installed), or the
// one a file manager left in the cache, which is taken without running anything; without
// either, a page of what a text or an archive holds.
TEST(DevDriver, RenderWheelShowsTheDesktopsPictureOfAFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString cache = dir.filePath("cache");
    const QString data = dir.filePath("data");
    QDir().mkpath(data + "/thumbnailers");
    const QRgb drawn = qRgb(200, 30, 30);
    {
        // A thumbnailer of the user's own for text, drawing a red square whatever the text.
        QFile entry(data + "/thumbnailers/red-text.thumbnailer");
        ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
        entry.write("[Thumbnailer Entry]\nExec=/usr/bin/convert -size 64x64 xc:#c81e1e png:%o\nMimeType=text/plain;image/svg+xml;\n");
    }
    const QString text = dir.filePath("notes.txt");
    {
        QFile file(text);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("Some notes.\n");
    }
    // Without a thumbnailer for them, a text and an archive show a page of what they hold.
    const QString archive = dir.filePath("bundle.zip");
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", "import zipfile,sys\nz = zipfile.ZipFile(sys.argv[1],'w')\n"
                                                    "for n in ('alpha.txt','beta/','beta/gamma.png'): z.writestr(n,'x')",
                                              archive}),
              0);
    EXPECT_TRUE(showsAWrittenPage(wheelOf(text, cache, dir.filePath("no-data"), dir.filePath("page.png"))));
    EXPECT_TRUE(showsAWrittenPage(wheelOf(archive, cache, dir.filePath("no-data"), dir.filePath("zip-page.png"))));
    if (QFileInfo::exists("/usr/bin/convert")) {
        EXPECT_LT(colourDistance(centreColour(text, cache, data, dir.filePath("text.png")), drawn), 40);
    }
    // An SVG is drawn by our own decoder from its bytes: a thumbnailer would hand librsvg its
    // path, and librsvg would draw what it includes from the files beside it.
    const QString svg = writeFile(dir.filePath("shape.svg"), "<svg xmlns='http://www.w3.org/2000/svg' width='64' height='64'>"
                                                             "<rect width='64' height='64' fill='#1428c8'/></svg>");
    EXPECT_LT(colourDistance(centreColour(svg, cache, data, dir.filePath("svg.png")), qRgb(20, 40, 200)), 40);

    // A picture the file manager made already wins, and none is drawn.
    writeCachedPicture(cache, text, QColor(30, 160, 60));
    EXPECT_LT(colourDistance(centreColour(text, cache, data, dir.filePath("cached.png")), qRgb(30, 160, 60)), 40);
    // One made before the file last changed is not its picture.
    writeCachedPicture(cache, archive, QColor(30, 160, 60));
    EXPECT_LT(colourDistance(centreColour(archive, cache, data, dir.filePath("zip.png")), qRgb(30, 160, 60)), 40);
    QFile touch(archive);
    ASSERT_TRUE(touch.open(QIODevice::ReadWrite));
    ASSERT_TRUE(touch.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
    touch.close();
    EXPECT_GT(colourDistance(centreColour(archive, cache, data, dir.filePath("zip2.png")), qRgb(30, 160, 60)), 100);

    if (!QFileInfo::exists("/usr/bin/gnome-epub-thumbnailer"))
        GTEST_SKIP() << "gnome-epub-thumbnailer is not installed";
    const QString epub = dir.filePath("book.epub");
    QByteArray output;
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", makeEpub, epub}, &output), 0) << output.toStdString();
    EXPECT_LT(colourDistance(centreColour(epub, cache, data, dir.filePath("epub.png")), qRgb(20, 40, 200)), 40);
}
