#include "PackageTestTools.h"

#include "documents/readers/EPUBReader.h"
#include "documents/writers/ZipPackageWriter.h"
#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"
#include "support/SmallDisk.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>

using namespace qv;
using namespace qv::test;

namespace {

struct Member {
    Member(QString name, QByteArray data = {}, QString linkTarget = {})
        : name(std::move(name)), data(std::move(data)), linkTarget(std::move(linkTarget))
    {
    }
    QString name;
    QByteArray data;
    QString linkTarget; // a symbolic link when set
};

// A zip written by libarchive, which can hold links and names our own writer never makes.
QString writeZip(const QString& path, const QList<Member>& members)
{
    archive* a = archive_write_new();
    archive_write_set_format_zip(a);
    archive_write_open_filename(a, QFile::encodeName(path).constData());
    for (const Member& member : members) {
        archive_entry* entry = archive_entry_new();
        archive_entry_copy_pathname(entry, member.name.toUtf8().constData());
        if (!member.linkTarget.isEmpty()) {
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_copy_symlink(entry, member.linkTarget.toUtf8().constData());
            archive_entry_set_perm(entry, 0777);
            archive_write_header(a, entry);
        } else {
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_perm(entry, 0644);
            archive_entry_set_size(entry, member.data.size());
            archive_write_header(a, entry);
            archive_write_data(a, member.data.constData(), size_t(member.data.size()));
        }
        archive_entry_free(entry);
    }
    archive_write_close(a);
    archive_write_free(a);
    return path;
}

const QByteArray container = "<?xml version=\"1.0\"?><container version=\"1.0\" "
                             "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles><rootfile "
                             "full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/>"
                             "</rootfiles></container>";

QByteArray packageDocument(const QByteArray& manifest, const QByteArray& spine, const QByteArray& metadata = "")
{
    return "<?xml version=\"1.0\"?><opf:package xmlns:opf=\"http://www.idpf.org/2007/opf\" "
           "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" version=\"3.0\"><opf:metadata>"
        + metadata + "</opf:metadata><opf:manifest>" + manifest + "</opf:manifest><opf:spine>" + spine
        + "</opf:spine></opf:package>";
}

QByteArray chapter(const QByteArray& body)
{
    return "<?xml version=\"1.0\"?><html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>t</title></head><body>"
        + body + "</body></html>";
}

QString failure(const QString& book, const QString& folder)
{
    QDir().mkpath(folder);
    try {
        EPUBReader::read(QUrl::fromLocalFile(book), QUrl::fromLocalFile(folder));
    } catch (const EngineError& error) {
        return error.message();
    }
    return "read";
}

} // namespace

TEST(EpubReader, ReadsTheSpineAndMetadata)
{
    QTemporaryDir dir;
    const QString book = writeZip(
        dir.filePath("book.epub"),
        {{"mimetype", "application/epub+zip"},
         {"META-INF/container.xml", container},
         {"OEBPS/content.opf",
          packageDocument("<opf:item id=\"a\" href=\"text/first%20part.xhtml\" media-type=\"application/xhtml+xml\"/>"
                          "<opf:item id=\"pic\" href=\"p.png\" media-type=\"image/png\"/>"
                          "<opf:item id=\"b\" href=\"second.html\"/>",
                          "<opf:itemref idref=\"a\"/><opf:itemref idref=\"ghost\"/><opf:itemref idref=\"pic\"/>"
                          "<opf:itemref idref=\"b\"/>",
                          "<dc:title>\n  Spaced Title \n</dc:title><dc:language>fr</dc:language><dc:title>Second</dc:title>")},
         {"OEBPS/text/first part.xhtml", chapter("<h1>One</h1><p>first</p>")},
         {"OEBPS/second.html", chapter("<p>second</p>")}});
    const QString folder = dir.filePath("unpacked");
    QDir().mkpath(folder);
    const EPUBReader::Book read = EPUBReader::read(QUrl::fromLocalFile(book), QUrl::fromLocalFile(folder));
    EXPECT_EQ(read.title, "Spaced Title");
    EXPECT_EQ(read.author, std::nullopt);
    EXPECT_EQ(read.language, "fr");
    ASSERT_EQ(read.chapters.size(), 2);
    EXPECT_TRUE(read.chapters[0].toLocalFile().endsWith("/OEBPS/text/first part.xhtml"));
    EXPECT_TRUE(read.packageURL.toLocalFile().endsWith("/OEBPS/content.opf"));
    const DocumentModel model = EPUBReader::documentModel(read);
    ASSERT_EQ(model.blocks.size(), 4);
    EXPECT_EQ(model.blocks[2].kind, DocBlock::Kind::pageBreak);
    EXPECT_EQ(model.blocks[3].plainText(), "second");
}

TEST(EpubReader, SaysWhatIsWrongWithABrokenBook)
{
    QTemporaryDir dir;
    const QString notZip = writeFile(dir.filePath("not.epub"), "just some text, not a zip at all");
    EXPECT_EQ(failure(notZip, dir.filePath("f1")), "This e-book is damaged");
    const QString noContainer = writeZip(dir.filePath("nocontainer.epub"), {{"mimetype", "application/epub+zip"}});
    EXPECT_EQ(failure(noContainer, dir.filePath("f2")), "This file is not a valid EPUB (no container.xml)");
    const QString noPackage = writeZip(dir.filePath("nopackage.epub"), {{"META-INF/container.xml", container}});
    EXPECT_EQ(failure(noPackage, dir.filePath("f3")), "This file is not a valid EPUB (unreadable package)");
    const QString noChapters = writeZip(
        dir.filePath("nochapters.epub"),
        {{"META-INF/container.xml", container},
         {"OEBPS/content.opf", packageDocument("<opf:item id=\"p\" href=\"p.png\" media-type=\"image/png\"/>",
                                               "<opf:itemref idref=\"p\"/>")}});
    EXPECT_EQ(failure(noChapters, dir.filePath("f4")), "This e-book has no readable chapters");
}

TEST(EpubReader, NothingOutsideTheBookIsEverRead)
{
    QTemporaryDir dir;
    // Files beside the book that a hostile book tries to reach.
    writeFile(dir.filePath("secret.xhtml"), chapter("<p>SECRET CHAPTER</p>"));
    writeFile(dir.filePath("secret.opf"),
              packageDocument("<item id=\"s\" href=\"secret.xhtml\" media-type=\"application/xhtml+xml\"/>",
                              "<itemref idref=\"s\"/>"));
    const QByteArray secretPicture = encodedImage(5, 5, "PNG");
    writeFile(dir.filePath("secret.png"), secretPicture);
    const QString folder = dir.filePath("work/unpacked");

    const QString climbing = writeZip(
        dir.filePath("climbing.epub"),
        {{"META-INF/container.xml", container},
         {"../../escaped.txt", "out"},
         {"OEBPS/content.opf",
          packageDocument("<item id=\"up\" href=\"../../../secret.xhtml\" media-type=\"application/xhtml+xml\"/>"
                          "<item id=\"abs\" href=\"" + QFile::encodeName(dir.filePath("secret.xhtml")) + "\" media-type=\"application/xhtml+xml\"/>"
                          "<item id=\"url\" href=\"file://" + QFile::encodeName(dir.filePath("secret.xhtml")) + "\" media-type=\"application/xhtml+xml\"/>"
                          "<item id=\"link\" href=\"linked.xhtml\" media-type=\"application/xhtml+xml\"/>"
                          "<item id=\"ok\" href=\"ok.xhtml\" media-type=\"application/xhtml+xml\"/>",
                          "<itemref idref=\"up\"/><itemref idref=\"abs\"/><itemref idref=\"url\"/>"
                          "<itemref idref=\"link\"/><itemref idref=\"ok\"/>")},
         {"OEBPS/linked.xhtml", {}, dir.filePath("secret.xhtml")},
         {"OEBPS/pic.png", {}, dir.filePath("secret.png")},
         {"OEBPS/ok.xhtml",
          chapter("<p>visible</p><img src=\"file://" + QFile::encodeName(dir.filePath("secret.png"))
                  + "\" alt=\"abs\"/><img src=\"../../../secret.png\" alt=\"up\"/><img src=\"pic.png\" alt=\"link\"/>")}});
    QDir().mkpath(folder);
    const EPUBReader::Book book = EPUBReader::read(QUrl::fromLocalFile(climbing), QUrl::fromLocalFile(folder));
    // Only the two names inside the book are left; the link was never unpacked, so it reads as missing.
    const QString root = QFileInfo(folder).canonicalFilePath();
    ASSERT_EQ(book.chapters.size(), 2);
    for (const QUrl& chapter : book.chapters)
        EXPECT_TRUE(chapter.toLocalFile().startsWith(root + "/OEBPS/")) << chapter.toLocalFile().toStdString();
    const DocumentModel model = EPUBReader::documentModel(book);
    ASSERT_EQ(model.blocks.size(), 1) << model.blocks.size();
    EXPECT_EQ(model.blocks[0].plainText(), "visible");
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("escaped.txt")));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("work/escaped.txt")));
    EXPECT_FALSE(QFileInfo(folder + "/OEBPS/linked.xhtml").exists()) << "links are never unpacked";
    EXPECT_FALSE(QFileInfo(folder + "/OEBPS/linked.xhtml").isSymLink());

    // A rootfile that climbs out counts as missing, even though the file is there.
    const QString outsidePackage = writeZip(
        dir.filePath("outside.epub"),
        {{"META-INF/container.xml",
          "<container xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles><rootfile "
          "full-path=\"../../../secret.opf\"/></rootfiles></container>"}});
    EXPECT_EQ(failure(outsidePackage, dir.filePath("work/second")), "This file is not a valid EPUB (unreadable package)");
    const QString linkedPackage = writeZip(
        dir.filePath("linkedpackage.epub"),
        {{"META-INF/container.xml",
          "<container xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles><rootfile "
          "full-path=\"content.opf\"/></rootfiles></container>"},
         {"content.opf", {}, dir.filePath("secret.opf")}});
    EXPECT_EQ(failure(linkedPackage, dir.filePath("work/third")), "This file is not a valid EPUB (unreadable package)");
}

TEST(EpubReader, AZipBombIsDamagedAndStopsEarly)
{
    QTemporaryDir dir;
    const QString many = dir.filePath("many.epub");
    {
        ZipPackageWriter zip(many, {});
        zip.add("META-INF/container.xml", container, ZipPackageWriter::Method::deflated);
        for (int i = 0; i < ZipPackageReader::maximumEntries + 1; ++i)
            zip.add(QString("OEBPS/%1.xhtml").arg(i), "x", ZipPackageWriter::Method::stored);
        zip.finish();
    }
    EXPECT_EQ(failure(many, dir.filePath("m")), "This e-book is damaged");

    // Over a gigabyte of zeros in a few megabytes.
    const QString bomb = dir.filePath("bomb.epub");
    {
        ZipPackageWriter zip(bomb, {});
        zip.add("META-INF/container.xml", container, ZipPackageWriter::Method::deflated);
        zip.begin("OEBPS/huge.xhtml");
        const QByteArray zeros(64 << 20, '\0');
        for (int i = 0; i < 17; ++i)
            zip.write(zeros);
        zip.finish();
    }
    ASSERT_LT(QFileInfo(bomb).size(), 8 << 20);
    const QString folder = dir.filePath("b");
    EXPECT_EQ(failure(bomb, folder), "This e-book is damaged");
    EXPECT_LE(bytesBelow(folder), ZipPackageReader::maximumBytes);
}

TEST(EpubReader, OversizedChaptersAreSkippedAndAFullDiskIsAnError)
{
    QTemporaryDir dir;
    const QString big = dir.filePath("big.epub");
    {
        ZipPackageWriter zip(big, {});
        zip.add("META-INF/container.xml", container, ZipPackageWriter::Method::deflated);
        zip.add("OEBPS/content.opf",
                packageDocument("<item id=\"a\" href=\"huge.xhtml\" media-type=\"application/xhtml+xml\"/>"
                                "<item id=\"b\" href=\"small.xhtml\" media-type=\"application/xhtml+xml\"/>",
                                "<itemref idref=\"a\"/><itemref idref=\"b\"/>"),
                ZipPackageWriter::Method::deflated);
        zip.begin("OEBPS/huge.xhtml");
        zip.write(chapter("<p>"));
        zip.write(QByteArray(EPUBReader::maximumChapterBytes, 'a'));
        zip.write("</p></body></html>");
        zip.add("OEBPS/small.xhtml", chapter("<p>small</p>"), ZipPackageWriter::Method::deflated);
        zip.finish();
    }
    const QString folder = dir.filePath("big");
    QDir().mkpath(folder);
    const EPUBReader::Book book = EPUBReader::read(QUrl::fromLocalFile(big), QUrl::fromLocalFile(folder));
    const DocumentModel model = EPUBReader::documentModel(book);
    ASSERT_EQ(model.blocks.size(), 1);
    EXPECT_EQ(model.blocks[0].plainText(), "small");

    SmallDisk disk(1 << 20);
    if (!disk.isMounted())
        GTEST_SKIP() << "no tmpfs (needs root)";
    QDir().mkpath(disk.filePath("unpacked"));
    EXPECT_THROW(EPUBReader::read(QUrl::fromLocalFile(big), QUrl::fromLocalFile(disk.filePath("unpacked"))),
                 SystemError);
}

// HTML's entities in a chapter that names the XHTML DTD (a no-break space, an accented letter)
// are read as their characters.
TEST(EpubReader, NoBreakSpaceEntityIsASpace)
{
    QTemporaryDir dir;
    const QString book = writeZip(
        dir.filePath("book.epub"),
        {{"mimetype", "application/epub+zip"},
         {"META-INF/container.xml", container},
         {"OEBPS/content.opf",
          packageDocument("<opf:item id=\"a\" href=\"one.xhtml\" media-type=\"application/xhtml+xml\"/>",
                          "<opf:itemref idref=\"a\"/>", "<dc:title>Night</dc:title>")},
         {"OEBPS/one.xhtml",
          "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.1//EN\" "
          "\"http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd\">\n<html xmlns=\"http://www.w3.org/1999/xhtml\"><head>"
          "<title>t</title></head><body><p>A dark&nbsp;night, a&#160;day, an &eacute;t&eacute; &amp; &lt;more&gt;.</p>"
          "</body></html>"}});
    const QString folder = dir.filePath("unpacked");
    QDir().mkpath(folder);
    const DocumentModel model =
        EPUBReader::documentModel(EPUBReader::read(QUrl::fromLocalFile(book), QUrl::fromLocalFile(folder)));
    ASSERT_EQ(model.blocks.size(), 1);
    EXPECT_EQ(model.blocks[0].plainText(), QString::fromUtf8("A dark\u00a0night, a\u00a0day, an \u00e9t\u00e9 & <more>."));
}
