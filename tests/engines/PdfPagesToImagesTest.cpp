#include "support/PdfFixtures.h"

#include "engines/pdf/PDFEngine.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImageReader>
#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

TEST(PdfPagesToImages, OnePageGivesOneImageNamedAfterTheSource)
{
    QTemporaryDir dir;
    const QString invoice = writeTextPdf(dir.filePath("invoice.pdf"), {"Invoice"});
    WorkBench bench;
    const QUrl result = PDFEngine::pagesToImages(invoice, std::nullopt, ImageOutput::png, std::nullopt, 300,
                                                 SettingsSnapshot{}, bench.work(invoice));
    EXPECT_EQ(result.fileName(), "invoice.png");
    const QImage image(result.toLocalFile());
    EXPECT_EQ(image.size(), QSize(2550, 3300));
    EXPECT_NEAR(image.dotsPerMeterX() * 0.0254, 300, 1);
    EXPECT_EQ(bench.progress.completedUnitCount(), 100);
}

TEST(PdfPagesToImages, SeveralPagesGiveAFolderOfNumberedImages)
{
    QTemporaryDir dir;
    FixtureDocument doc;
    doc.pages = {FixturePage{"One"}, FixturePage{"Two", 612, 792, 90}, FixturePage{"Three"}};
    const QString brochure = writeFixturePdf(dir.filePath("brochure.pdf"), doc);
    WorkBench bench;
    const QUrl folder = PDFEngine::pagesToImages(brochure, std::nullopt, ImageOutput::jpg, std::nullopt, 150,
                                                 SettingsSnapshot{}, bench.work(brochure));
    EXPECT_EQ(folder.fileName(), "brochure (pages)");
    QStringList names = QDir(folder.toLocalFile()).entryList(QDir::Files);
    names.sort();
    EXPECT_EQ(names, (QStringList{"brochure 1.jpg", "brochure 2.jpg", "brochure 3.jpg"}));
    const auto sizeOf = [&](const QString& name) {
        return QImageReader(QDir(folder.toLocalFile()).filePath(name)).size();
    };
    EXPECT_EQ(sizeOf("brochure 1.jpg"), QSize(1275, 1650));
    EXPECT_EQ(sizeOf("brochure 2.jpg"), QSize(1650, 1275));
    EXPECT_EQ(sizeOf("brochure 3.jpg"), QSize(1275, 1650));
    // The resolution the pages were drawn at, as other programs read it.
    EXPECT_EQ(toolOutput("identify", {"-format", "%x", QDir(folder.toLocalFile()).filePath("brochure 3.jpg")}), "150");
}

TEST(PdfPagesToImages, RefusesEmptyLockedAndCancelledDocuments)
{
    QTemporaryDir dir;
    const QString empty = writeFixturePdf(dir.filePath("empty.pdf"), {});
    const QString locked = lockedCopy(writeTextPdf(dir.filePath("open.pdf"), {"x", "y"}), dir.filePath("locked.pdf"), "pw");
    const auto failure = [&](const QString& path, std::optional<QString> password = std::nullopt) {
        WorkBench bench;
        try {
            PDFEngine::pagesToImages(path, std::nullopt, ImageOutput::png, password, 72, SettingsSnapshot{},
                                     bench.work(path));
        } catch (const EngineError& e) {
            EXPECT_TRUE(bench.outputs().isEmpty());
            return e.message();
        }
        return QStringLiteral("<no error>");
    };
    EXPECT_EQ(failure(empty), "This PDF has no pages");
    EXPECT_EQ(failure(locked), "PDF is password-protected");
    EXPECT_EQ(failure(locked, QStringLiteral("pw")), "<no error>");

    WorkBench cancelled;
    cancelled.stop.request_stop();
    EXPECT_THROW(PDFEngine::pagesToImages(locked, std::nullopt, ImageOutput::png, QStringLiteral("pw"), 72,
                                          SettingsSnapshot{}, cancelled.work(locked)),
                 CancellationError);
    EXPECT_TRUE(cancelled.outputs().isEmpty());

    // Stopped once the folder for the pages is made, before any page is drawn.
    WorkBench midway;
    PDFWork work = midway.work(locked);
    const auto makeFolder = work.workFolder;
    work.workFolder = [&](const QString& name) {
        const QUrl folder = makeFolder(name);
        midway.stop.request_stop();
        return folder;
    };
    EXPECT_THROW(PDFEngine::pagesToImages(locked, std::nullopt, ImageOutput::png, QStringLiteral("pw"), 72,
                                          SettingsSnapshot{}, work),
                 CancellationError);
    EXPECT_TRUE(midway.outputs().isEmpty());
}

// A font that does not load (its embedded program is no font) is drawn with a system font, as
// other readers draw it: the page comes out, with a word that stand-ins were used.
TEST(PdfPagesToImages, AFontThatDoesNotLoadIsDrawnWithAStandInAndANote)
{
    QTemporaryDir dir;
    const QString path = writeObjectsPdf(
        dir.filePath("stand-in.pdf"),
        {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >>",
         "<< /Length 41 >>\nstream\nBT /F1 24 Tf 72 700 Td (Hello font) Tj ET\nendstream",
         "<< /Type /Font /Subtype /TrueType /BaseFont /NoSuchFont /FirstChar 32 /LastChar 126 /FontDescriptor 6 0 R >>",
         "<< /Type /FontDescriptor /FontName /NoSuchFont /Flags 32 /FontBBox [0 0 1000 1000] /ItalicAngle 0 /Ascent 800 "
         "/Descent -200 /CapHeight 700 /StemV 80 /FontFile2 7 0 R >>",
         "<< /Length 10 >>\nstream\nNOTAFONT!!\nendstream"});
    ASSERT_FALSE(path.isEmpty());
    WorkBench bench;
    const QUrl result = PDFEngine::pagesToImages(path, std::nullopt, ImageOutput::png, std::nullopt, 72,
                                                 SettingsSnapshot{}, bench.work(path));
    EXPECT_EQ(QImage(result.toLocalFile()).size(), QSize(612, 792));
    ASSERT_EQ(bench.notes->messages().size(), 1);
    EXPECT_TRUE(bench.notes->messages().first().contains("stand-ins")) << bench.notes->messages().first().toStdString();
}

// A presentation's movie is a Screen annotation with no picture of its own; MuPDF says it cannot
// make one. The page is drawn as other readers draw it, without a word of damage.
TEST(PdfPagesToImages, APresentationsMediaIsNoDamage)
{
    QTemporaryDir dir;
    const QByteArray text = "BT /F1 24 Tf 72 700 Td (Slide with a movie) Tj ET";
    const QString path = writeObjectsPdf(
        dir.filePath("slide.pdf"),
        {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Annots [6 0 R] /Resources << /Font << /F1 5 0 R >> >> >>",
         "<< /Length " + QByteArray::number(text.size()) + " >>\nstream\n" + text + "\nendstream",
         "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
         "<< /Type /Annot /Subtype /Screen /Rect [100 100 300 300] /P 3 0 R /T (movie) >>"});
    ASSERT_FALSE(path.isEmpty());
    WorkBench bench;
    const QUrl result = PDFEngine::pagesToImages(path, std::nullopt, ImageOutput::png, std::nullopt, 72,
                                                 SettingsSnapshot{}, bench.work(path));
    EXPECT_EQ(QImage(result.toLocalFile()).size(), QSize(612, 792));
    EXPECT_TRUE(bench.notes->messages().isEmpty());
}
