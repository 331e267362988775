#include "documents/readers/PDFTextReader.h"
#include "model/errors/EngineError.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

namespace {

using Line = PDFTextReader::Line;

Line line(const QString& text, int size = 11)
{
    return Line{{DocRun{text}}, text.trimmed().isEmpty() ? 0 : size};
}

QString describe(const QList<DocBlock>& blocks)
{
    QStringList all;
    for (const DocBlock& block : blocks) {
        QString kind = DocBlock::kindName(block.kind);
        if (block.kind == DocBlock::Kind::heading)
            kind += QString::number(block.level);
        if (block.kind == DocBlock::Kind::listItem)
            kind += block.ordered ? "#" : "*";
        all.append(kind + ":" + block.plainText());
    }
    return all.join(" | ");
}

// Three pages set in 11 points: a running header, "Page N of 3" footers, headings of 18, 15
// and 13 points.
QString writeReport(const QString& path)
{
    QPdfWriter writer(path);
    writer.setResolution(72);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter painter(&writer);
    const auto text = [&](int size, int y, const QString& words) {
        QFont font("DejaVu Sans");
        font.setPixelSize(size);
        painter.setFont(font);
        painter.drawText(60, y, words);
    };
    const QStringList headings{"Annual Report", "Second Section", "Third Part"};
    const QList<int> sizes{18, 15, 13};
    for (int page = 0; page < 3; ++page) {
        if (page > 0)
            writer.newPage();
        text(9, 40, "Example Corp confidential");
        text(sizes[page], 100, headings[page]);
        int y = 140;
        for (int i = 0; i < 6; ++i, y += 16)
            text(11, y, QString("Body line %1 of page %2 carries ordinary words").arg(i + 1).arg(page + 1));
        text(11, y, "This paragraph ends here.");
        text(9, 800, QString("Page %1 of 3").arg(page + 1));
    }
    painter.end();
    return path;
}

} // namespace

TEST(PDFTextReader, HeadingsListsAndJoinedLines)
{
    const QList<QList<Line>> pages{{
        line("Annual", 18), line("Report", 18), line("Overview", 15), line("Details", 13), line("Plain size", 12),
        line("The inter-"), line("national trade grew"), line("and the well-"), line("Known names stayed."), line(""),
        line("a) first"), line("(2) second"), line("2. third"), line("17"), line("Page 3 of 12"), line("Chapter 3"),
    }};
    const DocumentModel model = PDFTextReader::modelFromPages(pages, QString());
    EXPECT_EQ(describe(model.blocks),
              "heading1:Annual Report | heading2:Overview | heading3:Details | paragraph:Plain size The "
              "international trade grew and the well- Known names stayed. | listItem*:first | listItem*:second | "
              "listItem#:third Chapter 3");
    EXPECT_EQ(model.title, "Annual Report");
}

TEST(PDFTextReader, RunningTextsAndParagraphsAcrossPages)
{
    QList<QList<Line>> pages;
    for (int i = 0; i < 10; ++i) {
        QList<Line> page;
        if (i < 6)
            page.append(line("Often on top"));
        if (i < 5)
            page.append(line("Half the time"));
        page.append(line(QString("Body %1 runs on").arg(i)));
        pages.append(page);
    }
    const DocumentModel model = PDFTextReader::modelFromPages(pages, "Own title");
    const QString text = describe(model.blocks);
    EXPECT_FALSE(text.contains("Often on top"));
    EXPECT_TRUE(text.contains("Half the time"));
    // Without final punctuation the paragraph runs on to the next page.
    EXPECT_EQ(model.blocks.size(), 1);
    EXPECT_EQ(model.title, "Own title");

    // Two pages: nothing counts as a running header.
    const DocumentModel two = PDFTextReader::modelFromPages({{line("Top."), line("a.")}, {line("Top."), line("b.")}}, {});
    EXPECT_EQ(describe(two.blocks).count("Top."), 2);
}

TEST(PDFTextReader, ReportThroughTheDriver)
{
    QTemporaryDir dir;
    const QString report = writeReport(dir.filePath("report.pdf"));
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    env.insert("XDG_CACHE_HOME", dir.filePath("cache"));
    env.remove("QUORVENDA_TEST_HARNESS");
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(QV_BUILD_DIR "/quorvenda-dev"), {"document", report});
    ASSERT_TRUE(process.waitForFinished(60000));
    const QByteArray out = process.readAllStandardOutput();
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    const QJsonArray blocks = QJsonDocument::fromJson(out).object().value("blocks").toArray();
    QStringList headings;
    QString all;
    for (const auto& value : blocks) {
        const QJsonObject block = value.toObject();
        const QString text = QJsonDocument(block).toJson(QJsonDocument::Compact);
        all += text;
        if (block.value("kind").toString() == "heading")
            headings.append(QString::number(block.value("level").toInt()));
    }
    EXPECT_EQ(headings, (QStringList{"1", "2", "3"})) << out.toStdString();
    EXPECT_FALSE(all.contains("Example Corp")) << out.toStdString();
    EXPECT_FALSE(all.contains("of 3")) << out.toStdString();
    EXPECT_TRUE(all.contains("This paragraph ends here."));
}

// Text that a form field or an annotation shows is the page's text, as pdftotext reads it; a
// PDF with no text at all is no empty document but the advice to read it with OCR first.
TEST(PDFTextReader, FormFieldsAndAnnotationsHoldTextAndNoTextIsNoDocument)
{
    QTemporaryDir dir;
    const QString script = QStringLiteral(R"(import sys
def build(objs):
    out = b'%PDF-1.7\n'
    offsets = []
    for i, o in enumerate(objs):
        offsets.append(len(out))
        out += b'%d 0 obj\n' % (i + 1) + o + b'\nendobj\n'
    at = len(out)
    out += b'xref\n0 %d\n0000000000 65535 f \n' % (len(objs) + 1) + b''.join(b'%010d 00000 n \n' % o for o in offsets)
    return out + b'trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n' % (len(objs) + 1, at)
def shown(annotation, words, catalog=b''):
    look = b'/Tx BMC BT /F1 12 Tf 2 5 Td (' + words + b') Tj ET EMC'
    return build([b'<< /Type /Catalog /Pages 2 0 R ' + catalog + b'>>', b'<< /Type /Pages /Kids [3 0 R] /Count 1 >>',
        b'<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Annots [6 0 R] >>',
        b'<< /Length 0 >>\nstream\n\nendstream', b'<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>',
        annotation + b' /Rect [72 700 300 720] /AP << /N 7 0 R >> >>',
        b'<< /Type /XObject /Subtype /Form /BBox [0 0 228 20] /Resources << /Font << /F1 5 0 R >> >> /Length %d >>\nstream\n' % len(look) + look + b'\nendstream'])
d = sys.argv[1] + '/'
open(d + 'field.pdf', 'wb').write(shown(b'<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /V (Jane Field Value) /P 3 0 R', b'Jane Field Value', b'/AcroForm << /Fields [6 0 R] >> '))
open(d + 'note.pdf', 'wb').write(shown(b'<< /Type /Annot /Subtype /FreeText /Contents (A note in an annotation)', b'A note in an annotation'))
blank = b'0.5 g 72 72 300 300 re f'
open(d + 'drawing.pdf', 'wb').write(build([b'<< /Type /Catalog /Pages 2 0 R >>', b'<< /Type /Pages /Kids [3 0 R] /Count 1 >>',
    b'<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>', b'<< /Length %d >>\nstream\n' % len(blank) + blank + b'\nendstream']))
)");
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", script, dir.path()}), 0);
    for (const auto& [name, words] : {std::pair{"field.pdf", "Jane Field Value"}, std::pair{"note.pdf", "A note in an annotation"}}) {
        const QString path = dir.filePath(name);
        QByteArray oracle;
        runProgram("pdftotext", {path, "-"}, &oracle);
        EXPECT_TRUE(oracle.contains(words)) << name;
        EXPECT_EQ(describe(PDFTextReader::documentModel(path, std::nullopt, {}).blocks), QString("paragraph:") + words)
            << name;
    }
    try {
        PDFTextReader::documentModel(dir.filePath("drawing.pdf"), std::nullopt, {});
        ADD_FAILURE() << "an empty document";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "This PDF has no text layer. Try OCR first");
    }
}

// A page of one line that reads like a page number (a split's last page, say) is still the
// document's text: the reading that drops page numbers must not leave an empty document.
TEST(PDFTextReader, APageWhoseOnlyLineReadsLikeAPageNumberKeepsIt)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("number.pdf");
    {
        QPdfWriter writer(path);
        writer.setResolution(72);
        writer.setPageSize(QPageSize(QPageSize::Letter));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter painter(&writer);
        QFont font("DejaVu Sans");
        font.setPixelSize(24);
        painter.setFont(font);
        painter.drawText(72, 72, "page 4");
    }
    QByteArray oracle;
    runProgram("pdftotext", {path, "-"}, &oracle);
    ASSERT_TRUE(oracle.contains("page 4"));
    EXPECT_EQ(describe(PDFTextReader::documentModel(path, std::nullopt, {}).blocks), "paragraph:page 4");
}
