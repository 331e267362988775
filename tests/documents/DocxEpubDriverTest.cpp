#include "PackageTestTools.h"

#include "support/DevDriver.h"
#include "support/TestFiles.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

using namespace qv::test;

namespace {

QString notes(const QTemporaryDir& dir)
{
    const QString png = writeFile(dir.filePath("source.png"), encodedImage(30, 20, "PNG"));
    runProgram("vips", {"copy", png, dir.filePath("pic.tif")});
    return writeFile(dir.filePath("notes.md"),
                     "# Notes\n\nSee [the site](https://example.com) & more.\n\n- one\n- two\n\n1. first\n\n"
                     "| a | b |\n|---|---|\n| c | d |\n\n![a picture](pic.tif)\n\n## Second\n\nText.\n");
}

QStringList kinds(const QByteArray& json)
{
    QStringList list;
    for (const auto& block : QJsonDocument::fromJson(json).object().value("blocks").toArray())
        list.append(block.toObject().value("kind").toString());
    return list;
}

} // namespace

TEST(DocxEpubDriver, WritesDocxFromMarkdown)
{
    QTemporaryDir dir;
    const QString source = notes(dir);
    const QString out = dir.filePath("out.docx");
    int status = -1;
    runDevDriver({"document", source, "--to", "docx", out, "--letter"}, dir.path(), &status);
    ASSERT_EQ(status, 0);
    const PackageContents package = readPackage(out);
    for (const char* part : {"[Content_Types].xml", "_rels/.rels", "docProps/core.xml", "word/_rels/document.xml.rels",
                             "word/document.xml", "word/styles.xml", "word/numbering.xml", "word/media/image1.png"})
        EXPECT_TRUE(package.parts.contains(part)) << part;
    EXPECT_TRUE(package.parts["word/document.xml"].contains("<w:pgSz w:w=\"12240\""));
    EXPECT_TRUE(package.parts["word/_rels/document.xml.rels"].contains(
        "Target=\"https://example.com\" TargetMode=\"External\""));
    QByteArray plain;
    ASSERT_EQ(runProgram("pandoc", {"-f", "docx", "-t", "plain", out}, &plain), 0);
    EXPECT_TRUE(plain.contains("the site & more")) << plain.toStdString();

    // The result never replaces a file.
    runDevDriver({"document", source, "--to", "docx", out}, dir.path(), &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(readPackage(out).names, package.names);
}

TEST(DocxEpubDriver, WritesAnEpubAndReadsItBack)
{
    QTemporaryDir dir;
    const QString source = notes(dir);
    const QString out = dir.filePath("out.epub");
    int status = -1;
    runDevDriver({"document", source, "--to", "epub", out}, dir.path(), &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(readFile(out).mid(30, 28), "mimetypeapplication/epub+zip");
    const QByteArray json = runDevDriver({"document", out}, dir.path(), &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(kinds(json).join(' '),
              "heading paragraph listItem listItem listItem table image pageBreak heading paragraph");
    EXPECT_EQ(QJsonDocument::fromJson(json).object().value("title").toString(), "Notes");

    const QString japanese = writeFile(dir.filePath("ja.md"), QString::fromUtf8(
        "# 猫\n\n吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。何でも薄暗いじめじめした所で"
        "ニャーニャー泣いていた事だけは記憶している。\n").toUtf8());
    const QString book = dir.filePath("ja.epub");
    runDevDriver({"document", japanese, "--to", "epub", book}, dir.path(), &status);
    ASSERT_EQ(status, 0);
    EXPECT_TRUE(readPackage(book).parts["OEBPS/content.opf"].contains("<dc:language>ja</dc:language>"));

    int usage = -1;
    runDevDriver({"document", source, "--to", "epub"}, dir.path(), &usage);
    EXPECT_EQ(usage, 2);
}
