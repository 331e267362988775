#include "engines/image/ImageToolFixture.h"

#include "engines/image/metadata/ImageMetadataRemoval.h"

#include <QRegularExpression>

using namespace qv;
using namespace qv::test;

namespace {

class ImageMetadataRemovalTest : public ImageToolFixture {
protected:
    // exiftool's every tag, one "[Group] Name : value" line each.
    static QString tags(const QString& path)
    {
        QByteArray out;
        runProgram("exiftool", {"-a", "-G1", "-s", path}, &out);
        return QString::fromUtf8(out);
    }

    // The tags of groups that may speak of a person, a place, a device or a comment: all but the
    // file system's, exiftool's own, the picture's structure and its colour profile.
    static QStringList identifying(const QString& path)
    {
        static const QRegularExpression harmless(QStringLiteral(
            "^\\[(ExifTool|System|File|JFIF|Composite|PNG|PNG-pHYs|PNG-gAMA|PNG-cHRM|PNG-sRGB|ICC_Profile|ICC-header|ICC-view|ICC-meas|Adobe)\\]"));
        QStringList found;
        for (const QString& line : tags(path).split('\n', Qt::SkipEmptyParts)) {
            static const QRegularExpression orientation(QStringLiteral("^\\[IFD0\\]\\s+Orientation\\b"));
            if (!harmless.match(line).hasMatch() && !orientation.match(line).hasMatch())
                found.append(line);
        }
        // PNG's own group holds its text chunks too.
        for (const QString& line : tags(path).split('\n', Qt::SkipEmptyParts)) {
            if (line.startsWith("[PNG]") && QRegularExpression("\\] (Comment|Author|Copyright|Title|Software|"
                                                              "Description)\\b").match(line).hasMatch())
                found.append(line);
        }
        return found;
    }

    static void insertAfterSoi(const QString& path, const QByteArray& segments)
    {
        QByteArray bytes = readFile(path);
        bytes.insert(2, segments);
        writeFile(path, bytes);
    }

    static QByteArray segment(uchar marker, const QByteArray& body)
    {
        const qsizetype length = body.size() + 2;
        return QByteArray(1, char(0xFF)) + char(marker) + char(length >> 8) + char(length & 0xFF) + body;
    }
};

} // namespace

// What exiftool finds in the source that names a person, a place, a device or a comment is gone
// from the result, however it was stored: Exif, IPTC, XMP, comments, other application segments
// (a camera's serial number in APP6, Ducky's comment in APP12, a JSON comment in APP11) and
// whatever trails the picture; the pixels stay the same bytes and the orientation stays.
TEST_F(ImageMetadataRemovalTest, NothingIdentifyingSurvivesInAJpeg)
{
    if (!QFile::exists("/usr/bin/exiftool"))
        GTEST_SKIP() << "exiftool is not installed";
    const QString photo = in("photo.jpg");
    ASSERT_TRUE(noise(120, 80).save(photo, "JPEG", 90));
    ASSERT_EQ(runProgram("exiftool", {"-q", "-overwrite_original", "-Artist=Jane Doe", "-SerialNumber=SN-4242",
                                      "-Make=Example Camera", "-GPSLatitude=48.85", "-GPSLatitudeRef=N",
                                      "-Orientation#=6", "-IPTC:By-line=Jane Doe", "-IPTC:City=Paris",
                                      "-XMP:Creator=Jane Doe", "-Comment=A private comment", photo}),
              0);
    insertAfterSoi(photo, segment(0xE6, "SERIAL-APP6-8842") + segment(0xEC, QByteArray("Ducky\x00\x02\x00\x05", 9)
                                      + "Jane's note")
                              + segment(0xEB, "JSON{\"owner\":\"Jane Doe\"}"));
    // A trailer after the picture's end, as some cataloguing programs leave.
    QByteArray bytes = readFile(photo);
    bytes.append("AXS!trailer caption by Jane Doe");
    writeFile(photo, bytes);
    ASSERT_TRUE(ImageDecoder::decodes(photo));
    ASSERT_FALSE(identifying(photo).isEmpty());

    const QUrl result = ImageMetadataRemoval::removeMetadata(input(photo), context, work);
    const QString path = result.toLocalFile();
    EXPECT_EQ(identifying(path), QStringList()) << tags(path).toStdString();
    const QByteArray stripped = readFile(path);
    for (const char* word : {"Jane", "SN-4242", "SERIAL", "Paris", "Example Camera", "private", "trailer"})
        EXPECT_FALSE(stripped.contains(word)) << word;
    EXPECT_EQ(scanData(path), scanData(photo).left(scanData(path).size()));
    EXPECT_TRUE(tags(path).contains("Orientation")) << tags(path).toStdString();
    EXPECT_EQ(ImageDecoder::sourceOrientation(path), 6);
    EXPECT_TRUE(ImageDecoder::decodes(path));
}

// Real cameras' files end with the picture's end marker and keep serial numbers in segments of
// their own: every segment but the picture's goes.
TEST_F(ImageMetadataRemovalTest, CameraMakersSegmentsGoFromRealFiles)
{
    if (!QFile::exists("/usr/bin/exiftool"))
        GTEST_SKIP() << "exiftool is not installed";
    for (const char* name : {"FLIR.jpg", "GoPro.jpg", "InfiRay.jpg"}) {
        const QString photo = in(QString::fromLatin1(name));
        writeFile(photo, readFile(QStringLiteral(QV_SOURCE_DIR "/tests/files/makers/") + QString::fromLatin1(name)));
        ASSERT_TRUE(tags(photo).contains("Serial")) << name;
        const QString path = ImageMetadataRemoval::removeMetadata(input(photo), context, work).toLocalFile();
        EXPECT_EQ(identifying(path), QStringList()) << name << tags(path).toStdString();
        // The scan, from its header to the end marker, is the source's last bytes.
        EXPECT_TRUE(readFile(photo).endsWith(scanData(path))) << name;
    }
}

// A WebP's XMP chunk goes with its Exif (Exiv2 wrote the packet it had read back when its data
// was cleared: Pillow's flower2.webp kept Photoshop's history), and a TIFF's XMP with it.
TEST_F(ImageMetadataRemovalTest, NothingIdentifyingSurvivesInAWebP)
{
    if (!QFile::exists("/usr/bin/exiftool"))
        GTEST_SKIP() << "exiftool is not installed";
    const QString png = in("picture.png");
    ASSERT_TRUE(noise(60, 40).save(png, "PNG"));
    // A TIFF's XMP too, which clearing the packet alone wrote back from what was read.
    for (const char* kind : {"webp", "tif"}) {
        const QString picture = in(QStringLiteral("picture.") + kind);
        ASSERT_EQ(runProgram("vips", {"copy", png, picture + (QByteArray(kind) == "webp" ? "[Q=80]" : "")}), 0);
        ASSERT_EQ(runProgram("exiftool", {"-q", "-overwrite_original", "-XMP:Creator=Jane Doe",
                                          "-XMP-xmpMM:DocumentID=private-document", "-EXIF:Artist=Jane Doe",
                                          picture}),
                  0);
        ASSERT_FALSE(identifying(picture).isEmpty()) << kind;

        const QString path = ImageMetadataRemoval::removeMetadata(input(picture), context, work).toLocalFile();
        EXPECT_EQ(identifying(path).filter(QRegularExpression("^\\[(XMP|IFD0|ExifIFD)\\].*(Creator|Artist|DocumentID)")),
                  QStringList())
            << kind << tags(path).toStdString();
        const QByteArray stripped = readFile(path);
        for (const char* word : {"Jane", "private-document"})
            EXPECT_FALSE(stripped.contains(word)) << kind << " " << word;
    }
}

// PNG text chunks (a comment, an author, a copyright) go, nothing of the writer's own is added
// (Exiv2 added a "Raw profile type exif" chunk), and the colour and transparency chunks stay.
TEST_F(ImageMetadataRemovalTest, NothingIdentifyingSurvivesInAPng)
{
    if (!QFile::exists("/usr/bin/exiftool"))
        GTEST_SKIP() << "exiftool is not installed";
    const QString picture = in("picture.png");
    ASSERT_TRUE(noise(60, 40, true).save(picture, "PNG"));
    ASSERT_EQ(runProgram("exiftool", {"-q", "-overwrite_original", "-PNG:Comment=A private comment",
                                      "-PNG:Author=Jane Doe", "-PNG:Copyright=Jane Doe 2024", "-XMP:Creator=Jane Doe",
                                      "-EXIF:Artist=Jane Doe", "-PNG:Gamma=2.2", picture}),
              0);
    ASSERT_FALSE(identifying(picture).isEmpty());

    const QString path = ImageMetadataRemoval::removeMetadata(input(picture), context, work).toLocalFile();
    EXPECT_EQ(identifying(path), QStringList()) << tags(path).toStdString();
    const QByteArray stripped = readFile(path);
    for (const char* chunk : {"tEXt", "zTXt", "iTXt", "eXIf", "Jane"})
        EXPECT_FALSE(stripped.contains(chunk)) << chunk;
    EXPECT_TRUE(stripped.contains("gAMA"));
    EXPECT_EQ(ImageDecoder::decode(path).toQImage(), ImageDecoder::decode(picture).toQImage());
}
