#include "support/PdfFixtures.h"
#include "support/TestFiles.h"

#include "engines/pdf/PDFEngine.h"
#include "model/errors/EngineError.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

TEST(PdfMetadata, RemovesInformationAndEveryXmpPacket)
{
    QTemporaryDir dir;
    FixtureDocument doc;
    doc.pages = {FixturePage{"First"}, FixturePage{"Second"}, FixturePage{"Photo", 612, 792, 0, photoImage(300, 300)}};
    doc.pages[2].photoXmp = xmpPacket("Zebulon Quintavalle");
    doc.pages[1].xmp = xmpPacket("Zebulon Quintavalle");
    doc.xmp = xmpPacket("Zebulon Quintavalle");
    doc.info = {{"/Title", "Secret plans"}, {"/Author", "Zebulon Quintavalle"}, {"/Subject", "Plans"},
                {"/Keywords", "plans, secret"}, {"/Creator", "Writer"}, {"/Producer", "Press"},
                {"/CreationDate", "D:20200101000000Z"}, {"/ModDate", "D:20200202000000Z"}};
    const QString meta = writeFixturePdf(dir.filePath("meta.pdf"), doc);
    ASSERT_TRUE(decompressed(meta).contains("xmpmeta"));
    ASSERT_EQ(decompressed(meta).count("Quintavalle"), 4);

    WorkBench bench;
    const QUrl result = PDFEngine::removeMetadata(meta, std::nullopt, bench.work(meta));
    EXPECT_EQ(result.fileName(), "meta (no metadata).pdf");
    const QString out = result.toLocalFile();
    EXPECT_TRUE(qpdfCheckPasses(out));
    const QString info = QString::fromUtf8(toolOutput("pdfinfo", {out}));
    for (const char* key : {"Title:", "Author:", "Subject:", "Keywords:", "Creator:", "Producer:",
                            "CreationDate:", "ModDate:"})
        EXPECT_FALSE(info.contains(QLatin1String(key))) << key;
    const QByteArray all = decompressed(out);
    EXPECT_FALSE(all.contains("xmpmeta"));
    EXPECT_FALSE(all.contains("Quintavalle"));
    EXPECT_EQ(pageTexts(out), (QStringList{"First", "Second", "Photo"}));
    // The photo lost its packet, not its picture.
    const QImage photo = PDFEngine::renderPage(PDFEngine::open(out), 2, 72);
    EXPECT_LT(qGray(photo.pixel(200, 200)), 250);
}

// A file attached to the document is the user's, whatever it holds; an XFA form's own XMP packet
// goes, as a part of its own or inside the one stream of all its packets.
TEST(PdfMetadata, AttachmentsStayWholeAndXfaFormsLoseTheirPacket)
{
    QTemporaryDir dir;
    const QByteArray xmp = xmpPacket("Zebulon Quintavalle");
    const auto stream = [](const QByteArray& dictionary, const QByteArray& data) {
        return "<< " + dictionary + " /Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data + "\nendstream";
    };
    const QByteArray page = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R"
                            " /Resources << /Font << /F1 5 0 R >> >> >>";
    const QByteArray content = stream({}, "BT /F1 24 Tf 72 700 Td (Form) Tj ET");
    const QByteArray font = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";
    const QString attached = writeObjectsPdf(
        dir.filePath("attached.pdf"),
        {"<< /Type /Catalog /Pages 2 0 R /Names << /EmbeddedFiles << /Names [(photo.xmp) 6 0 R] >> >> >>",
         "<< /Type /Pages /Kids [3 0 R] /Count 1 >>", page, content, font,
         "<< /Type /Filespec /F (photo.xmp) /UF (photo.xmp) /EF << /F 7 0 R >> >>",
         stream("/Type /EmbeddedFile /Params << /ModDate (D:20200101000000Z) /Size " + QByteArray::number(xmp.size()) + " >>",
                xmp)});
    const QByteArray template_ = "<template xmlns=\"http://www.xfa.org/schema/xfa-template/3.3/\"><subform name=\"form1\"/></template>";
    const QString parts = writeObjectsPdf(
        dir.filePath("parts.pdf"),
        {"<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [] /XFA [(template) 6 0 R (xmpmeta) 7 0 R] >> >>",
         "<< /Type /Pages /Kids [3 0 R] /Count 1 >>", page, content, font, stream({}, template_), stream({}, xmp)});
    const QString whole = writeObjectsPdf(
        dir.filePath("whole.pdf"),
        {"<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [] /XFA 6 0 R >> >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
         page, content, font, stream({}, "<xdp:xdp xmlns:xdp=\"http://ns.adobe.com/xdp/\">" + template_ + xmp + "</xdp:xdp>")});

    WorkBench bench;
    const QString out = PDFEngine::removeMetadata(attached, std::nullopt, bench.work(attached)).toLocalFile();
    EXPECT_TRUE(qpdfCheckPasses(out));
    QByteArray listed;
    ASSERT_EQ(runProgram("qpdf", {"--show-attachment=photo.xmp", out}, &listed), 0);
    EXPECT_EQ(listed, xmp);
    EXPECT_FALSE(decompressed(out).contains("D:20200101000000Z"));

    for (const QString& form : {parts, whole}) {
        WorkBench formBench;
        const QString cleaned = PDFEngine::removeMetadata(form, std::nullopt, formBench.work(form)).toLocalFile();
        EXPECT_TRUE(qpdfCheckPasses(cleaned));
        const QByteArray all = decompressed(cleaned);
        EXPECT_FALSE(all.contains("Quintavalle")) << form.toStdString();
        EXPECT_TRUE(all.contains("subform name=\"form1\"")) << form.toStdString();
        EXPECT_EQ(pageTexts(cleaned), QStringList{"Form"});
    }
}
