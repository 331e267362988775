#include "support/PdfFixtures.h"

#include "engines/pdf/PDFEngine.h"
#include "model/EngineError.h"

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
