#include "catalogue/adapters/DocumentPlannerAdapter.h"
#include "documents/DocumentConversion.h"
#include "documents/writers/OdtWriter.h"
#include "jobs/OutputPlanner.h"
#include "model/errors/SystemError.h"
#include "model/operations/Capabilities.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTextDocument>

using namespace qv;
using namespace qv::test;

namespace {

QString zipPart(const QString& zip, const QString& part)
{
    QByteArray out;
    runProgram("unzip", {"-p", zip, part}, &out);
    return QString::fromUtf8(out);
}

QString pandocMarkdown(const QString& file, const QString& from)
{
    QByteArray out;
    EXPECT_EQ(runProgram("pandoc", {"--from=" + from, "--to=markdown", "--wrap=none", file}, &out), 0);
    return QString::fromUtf8(out);
}

QUrl convert(const QString& path, DocumentOutput target)
{
    OperationContext context;
    context.files.append(fileInfoForURL(QUrl::fromLocalFile(path)));
    context.notes = std::make_shared<JobNotes>();
    OutputPlanner planner(QUrl::fromLocalFile(path), context.settings, context.notes);
    Progress progress(100);
    return DocumentConversion::convertDocument(context.files.first(), target, context, documentPlanner(planner), progress);
}

} // namespace

// Word splits words into runs of the same look; a heading is a heading in every target (in
// its own colour and size, one span for the whole of it).
TEST(OdtWriter, AWordHeadingStaysAnOutlineHeadingAndLikeRunsAreOneSpan)
{
    QTemporaryDir dir;
    const QString docx = dir.filePath("report.docx");
    QByteArray output;
    ASSERT_EQ(runProgram("/usr/bin/python3",
                         {"-c", "import sys, docx\nd = docx.Document()\nh = d.add_heading('', 1)\n"
                                "h.add_run('Over')\nh.add_run('view')\nd.add_heading('Details', 2)\n"
                                "p = d.add_paragraph('Plain ')\np.add_run('bo').bold = True\np.add_run('ld').bold = True\n"
                                "p.add_run(' end')\nd.save(sys.argv[1])\n",
                          docx},
                         &output),
              0)
        << output.toStdString();

    const QString odt = convert(docx, DocumentOutput::odt).toLocalFile();
    const QString content = zipPart(odt, "content.xml");
    EXPECT_TRUE(QRegularExpression(R"(<text:h text:style-name="[^"]+" text:outline-level="1">(<text:span text:style-name="T\d+">)?Overview(</text:span>)?</text:h>)")
                    .match(content)
                    .hasMatch())
        << content.toStdString();
    EXPECT_TRUE(content.contains(QRegularExpression(R"(<text:span text:style-name="T\d+">bold</text:span>)")))
        << content.toStdString();
    EXPECT_TRUE(zipPart(odt, "styles.xml").contains("style:default-outline-level=\"1\""));
    const QString markdown = pandocMarkdown(odt, "odt");
    EXPECT_TRUE(markdown.contains("# Overview\n") && markdown.contains("## Details\n")
                && markdown.contains("Plain **bold** end"))
        << markdown.toStdString();

    EXPECT_TRUE(readFile(convert(docx, DocumentOutput::md).toLocalFile()).contains("# Overview\n"));
    EXPECT_TRUE(readFile(convert(docx, DocumentOutput::html).toLocalFile()).contains("<h1>Overview</h1>"));
    EXPECT_TRUE(pandocMarkdown(convert(docx, DocumentOutput::epub).toLocalFile(), "epub").contains("# Overview"));
    if (!Capabilities::shared().libreOfficeURL())
        GTEST_SKIP() << "LibreOffice is not installed";
    // RTF comes from the ODT through LibreOffice; it keeps the outline level.
    const QByteArray rtf = readFile(convert(docx, DocumentOutput::rtf).toLocalFile());
    EXPECT_TRUE(rtf.contains("\\outlinelevel0") && rtf.contains("Overview")) << rtf.left(2000).toStdString();
}

TEST(OdtWriter, SpacesListsTablesLinksAndPicturesKeepTheirShape)
{
    QTemporaryDir dir;
    QTextDocument text;
    QImage picture(40, 20, QImage::Format_RGB32);
    picture.fill(Qt::red);
    text.addResource(QTextDocument::ImageResource, QUrl("mem:red.png"), picture);
    text.setHtml(QString::fromUtf8(
        "<h3>Third level</h3>"
        "<p><a href=\"https://example.org/\">a link</a> and <img src=\"mem:red.png\" width=\"80\"> a picture</p>"
        "<ul><li>outer<ul><li>inner</li></ul></li><li>outer again</li></ul>"
        "<ol><li>first</li></ol>"
        "<table border=\"1\"><tr><td colspan=\"2\">wide</td></tr><tr><td>left</td><td>right</td></tr></table>"));
    // Typed text keeps what HTML would collapse.
    QTextCursor cursor(&text);
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    cursor.insertText(QStringLiteral("  two  spaces,\ta tab") + QChar::LineSeparator + QStringLiteral("a new line\x01"));
    const QString path = dir.filePath("shapes.odt");
    OdtWriter::write(text, "Shapes", path, {});

    QByteArray listing;
    ASSERT_EQ(runProgram("unzip", {"-Z1", path}, &listing), 0);
    EXPECT_TRUE(listing.startsWith("mimetype\n")) << listing.toStdString();
    const QString manifest = zipPart(path, "META-INF/manifest.xml");
    EXPECT_TRUE(manifest.contains("manifest:full-path=\"Pictures/image1.png\"")) << manifest.toStdString();
    const QString content = zipPart(path, "content.xml");
    for (const char* part : {"content.xml", "styles.xml", "meta.xml", "META-INF/manifest.xml"}) {
        QByteArray check;
        EXPECT_EQ(runProgram("sh", {"-c", "unzip -p \"$0\" \"$1\" | xmllint --noout -", path, part}, &check), 0)
            << part << check.toStdString();
    }
    EXPECT_TRUE(content.contains("<text:s text:c=\"2\"/>two <text:s/>spaces,<text:tab/>a tab<text:line-break/>a new line</text:p>"))
        << content.toStdString();
    EXPECT_TRUE(content.contains("svg:width=\"60.00pt\" svg:height=\"30.00pt\"")) << content.toStdString();
    EXPECT_TRUE(content.contains("table:number-columns-spanned=\"2\"") && content.contains("<table:covered-table-cell/>"));
    EXPECT_TRUE(zipPart(path, "meta.xml").contains("<dc:title>Shapes</dc:title>"));

    const QString markdown = pandocMarkdown(path, "odt");
    for (const char* expected : {"### Third level\n", "](https://example.org/)", "-   outer\n\n    -   inner\n\n-   outer again",
                                 "1.  first", "![](Pictures/image1.png)"})
        EXPECT_TRUE(markdown.contains(QString::fromUtf8(expected))) << expected << "\n" << markdown.toStdString();

    // A taken name is never written over.
    EXPECT_THROW(OdtWriter::write(text, QString(), path, {}), SystemError);
    EXPECT_FALSE(zipPart(path, "content.xml").isEmpty());
}
