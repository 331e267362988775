#include "documents/sheets/Sheet.h"
#include "documents/sheets/XlsxWriter.h"
#include "support/DevDriver.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

namespace {

DriverRun run(const QStringList& args, const QString& home)
{
    return runDriverJob(args, home);
}

QString pdfInfo(const QString& pdf)
{
    QByteArray out;
    runProgram("pdfinfo", {pdf}, &out);
    return QString::fromUtf8(out);
}

// What the runs left below home of the given name pattern: LibreOffice's pipes, the template
// profile.
QString leftBelow(const QString& home, const QString& pattern)
{
    QByteArray out;
    runProgram("sh", {"-c", "find '" + home + "' -name '" + pattern + "'"}, &out);
    return QString::fromUtf8(out.trimmed());
}

} // namespace

TEST(DocumentRun, MarkdownToPdfWordCountAndMerge)
{
    QTemporaryDir home;
    QTemporaryDir dir;
    const QString notes = writeFile(dir.filePath("notes.md"), "# Overview\n\n- one\n- two\n");
    const DriverRun pdf = run({"convert.document.pdf", notes}, home.path());
    EXPECT_EQ(pdf.code, 0) << pdf.failure().toStdString();
    EXPECT_EQ(pdf.outputs(), QStringList{dir.filePath("notes.pdf")});
    EXPECT_TRUE(pdfInfo(dir.filePath("notes.pdf")).contains(QRegularExpression("Creator:\\s+Quorvenda\\n")));
    EXPECT_TRUE(pdfInfo(dir.filePath("notes.pdf")).contains("595.28 x 841.89 pts"));

    const DriverRun letter = run({"convert.document.pdf", "--options", "{\"pageSize\":\"letter\"}", notes}, home.path());
    ASSERT_EQ(letter.outputs().size(), 1);
    EXPECT_TRUE(pdfInfo(letter.outputs().first()).contains("612 x 792 pts"));

    QStringList words;
    for (int i = 0; i < 345; ++i)
        words.append("word");
    const QString counted = writeFile(dir.filePath("counted.txt"), words.join(' ').toUtf8());
    const DriverRun count = run({"tool.document.wordCount", counted}, home.path());
    EXPECT_EQ(count.code, 0);
    EXPECT_TRUE(count.outputs().isEmpty());
    EXPECT_TRUE(count.messages().join('\n').contains(QRegularExpression(QString::fromUtf8("345 words · .* · 2 min read"))))
        << count.messages().join('|').toStdString();

    // Files go in name order: notes before part.
    const QString b = writeFile(dir.filePath("part.txt"), "Second part\n");
    const DriverRun merge = run({"tool.document.merge", notes, b}, home.path());
    EXPECT_EQ(merge.code, 0) << merge.failure().toStdString();
    EXPECT_EQ(merge.outputs(), QStringList{dir.filePath("notes (merged).md")});
    EXPECT_TRUE(readFile(dir.filePath("notes (merged).md")).contains("---\n\nSecond part"));

    const DriverRun refused = run({"convert.document.txt", writeFile(dir.filePath("deck.key"), "x")}, home.path());
    EXPECT_EQ(refused.code, 1);
}

TEST(DocumentRun, PresentationAndSpreadsheetThroughLibreOffice)
{
    if (!QFile::exists("/usr/bin/soffice"))
        GTEST_SKIP() << "LibreOffice is not installed";
    QTemporaryDir home;
    QTemporaryDir dir;
    // Two slides in LibreOffice's flat format, made into a real ODP by LibreOffice itself.
    writeFile(dir.filePath("deck.fodp"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
              "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
              "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
              "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" "
              "xmlns:presentation=\"urn:oasis:names:tc:opendocument:xmlns:presentation:1.0\" "
              "office:version=\"1.2\" office:mimetype=\"application/vnd.oasis.opendocument.presentation\">"
              "<office:body><office:presentation>"
              "<draw:page draw:name=\"one\"><draw:frame svg:x=\"2cm\" svg:y=\"2cm\" svg:width=\"10cm\" svg:height=\"3cm\">"
              "<draw:text-box><text:p>Slide one</text:p></draw:text-box></draw:frame></draw:page>"
              "<draw:page draw:name=\"two\"><draw:frame svg:x=\"2cm\" svg:y=\"2cm\" svg:width=\"10cm\" svg:height=\"3cm\">"
              "<draw:text-box><text:p>Slide two</text:p></draw:text-box></draw:frame></draw:page>"
              "</office:presentation></office:body></office:document>\n");
    ASSERT_EQ(runProgram("soffice", {"--headless", "-env:UserInstallation=file://" + home.path() + "/lo",
                                     "--convert-to", "odp", "--outdir", dir.path(), dir.filePath("deck.fodp")}),
              0);
    const DriverRun slides = run({"convert.presentation.pdf", dir.filePath("deck.odp")}, home.path());
    EXPECT_EQ(slides.code, 0) << slides.failure().toStdString();
    EXPECT_EQ(slides.outputs(), QStringList{dir.filePath("deck.pdf")});
    EXPECT_TRUE(pdfInfo(dir.filePath("deck.pdf")).contains(QRegularExpression("Pages:\\s+2\\n")));

    writeXLSX({Sheet{"Data", {{"a", "b"}, {"1", "2"}}}}, dir.filePath("book.xlsx"), {});
    const DriverRun sheetPdf = run({"convert.spreadsheet.pdf", dir.filePath("book.xlsx")}, home.path());
    EXPECT_EQ(sheetPdf.code, 0) << sheetPdf.failure().toStdString();
    EXPECT_EQ(sheetPdf.outputs(), QStringList{dir.filePath("book.pdf")});
    EXPECT_TRUE(readFile(dir.filePath("book.pdf")).startsWith("%PDF"));

    const DriverRun ods = run({"convert.spreadsheet.ods", dir.filePath("book.xlsx")}, home.path());
    EXPECT_EQ(ods.code, 0) << ods.failure().toStdString();
    const DriverRun csv = run({"convert.spreadsheet.csv", dir.filePath("book.ods")}, home.path());
    EXPECT_EQ(csv.code, 0) << csv.failure().toStdString();
    // LibreOffice quotes text cells.
    EXPECT_EQ(readFile(dir.filePath("book.csv")).trimmed(), "\"a\",\"b\"\n1,2");
    EXPECT_EQ(leftBelow(home.path(), "soffice-*"), "");
    // Workers end without running destructors: the template profile goes with their folders.
    EXPECT_EQ(leftBelow(home.path(), "office-profile-*"), "");
}

TEST(DocumentRun, PictureToWordFile)
{
    QTemporaryDir home;
    QTemporaryDir dir;
    QImage image(40, 30, QImage::Format_ARGB32);
    image.fill(QColor(255, 0, 0, 128));
    ASSERT_TRUE(image.save(dir.filePath("logo.png")));
    const DriverRun docx = run({"convert.image.docx", dir.filePath("logo.png")}, home.path());
    EXPECT_EQ(docx.code, 0) << docx.failure().toStdString();
    EXPECT_EQ(docx.outputs(), QStringList{dir.filePath("logo.docx")});
    QByteArray listing;
    runProgram("unzip", {"-Z1", dir.filePath("logo.docx")}, &listing);
    // A picture with alpha travels as PNG.
    EXPECT_TRUE(listing.contains("word/media/") && listing.contains(".png")) << listing.toStdString();
    EXPECT_EQ(runProgram("pandoc", {dir.filePath("logo.docx"), "-t", "plain"}), 0);
}
