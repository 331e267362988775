#include "support/PdfFixtures.h"

#include "engines/pdf/PDFEngine.h"
#include "model/CancellationError.h"
#include "model/EngineError.h"

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
