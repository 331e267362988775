#include "support/PdfFixtures.h"
#include "support/TestFiles.h"

#include "engines/pdf/PDFEngine.h"
#include "model/CancellationError.h"
#include "model/Capabilities.h"
#include "model/EngineError.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

namespace {

FileInfo fileAt(const QString& path)
{
    FileInfo file;
    file.url = QUrl::fromLocalFile(path);
    file.size = QFileInfo(path).size();
    return file;
}

QString photoPdf(const QString& path)
{
    FixtureDocument doc;
    // 1500 pixels over 5 inches: 300 dpi.
    doc.pages = {FixturePage{"Holiday", 612, 792, 0, photoImage(1500, 1500)},
                 FixturePage{"Sideways", 612, 792, 90, photoImage(1500, 1500)}};
    return writeFixturePdf(path, doc);
}

} // namespace

TEST(PdfCompression, ShrinksPhotosKeepsTextAndTurnAndNamesItself)
{
    QTemporaryDir dir;
    const QString photo = photoPdf(dir.filePath("photo.pdf"));
    const QByteArray before = readFile(photo);

    WorkBench low;
    const QUrl lowResult = PDFEngine::compress(fileAt(photo), PDFCompressionLevel::low, std::nullopt, low.work(photo));
    WorkBench high;
    const QUrl highResult = PDFEngine::compress(fileAt(photo), PDFCompressionLevel::high, std::nullopt, high.work(photo));

    EXPECT_EQ(highResult.fileName(), "photo (compressed).pdf");
    const qint64 lowSize = QFileInfo(lowResult.toLocalFile()).size();
    const qint64 highSize = QFileInfo(highResult.toLocalFile()).size();
    EXPECT_LT(lowSize, before.size());
    EXPECT_LT(highSize, lowSize);
    ASSERT_EQ(high.notes->messages().size(), 1);
    const int percent = int((1.0 - double(highSize) / double(before.size())) * 100.0);
    EXPECT_EQ(high.notes->messages().first(), QString::number(percent) + " % smaller");

    const QString out = highResult.toLocalFile();
    EXPECT_TRUE(qpdfCheckPasses(out));
    EXPECT_EQ(pdfinfoValue(out, "Creator"), "Quorvenda");
    EXPECT_EQ(pageTexts(out), (QStringList{"Holiday", "Sideways"}));
    // Still shown turned, whether by its /Rotate or by its drawing.
    EXPECT_EQ(PDFEngine::renderPage(PDFEngine::open(out), 1, 72).size(), QSize(792, 612));
    // Downsampled to 100 dpi: 500 pixels over 5 inches.
    const QByteArray images = toolOutput("pdfimages", {"-list", out});
    EXPECT_TRUE(images.contains(" 500   500 ")) << images.toStdString();
    EXPECT_EQ(readFile(photo), before);
    EXPECT_TRUE(high.workLeftovers().size() <= 2); // work files go with the work folder
}

TEST(PdfCompression, RefusesWhatCannotShrinkOrIsNoPdf)
{
    QTemporaryDir dir;
    const QString text = writeTextPdf(dir.filePath("line.pdf"), {"One line"});
    WorkBench bench;
    try {
        PDFEngine::compress(fileAt(text), PDFCompressionLevel::medium, std::nullopt, bench.work(text));
        ADD_FAILURE() << "no error";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.message(), "Already as small as it gets");
    }
    EXPECT_TRUE(bench.outputs().isEmpty());
    EXPECT_TRUE(bench.notes->messages().isEmpty());

    const QString junk = writeJunkPdf(dir.filePath("junk.pdf"));
    WorkBench damaged;
    try {
        PDFEngine::compress(fileAt(junk), PDFCompressionLevel::medium, std::nullopt, damaged.work(junk));
        ADD_FAILURE() << "no error";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.message(), "This file is damaged or not in a supported format");
    }

    const QString locked = lockedCopy(text, dir.filePath("locked.pdf"), "pw");
    WorkBench wrong;
    try {
        PDFEngine::compress(fileAt(locked), PDFCompressionLevel::medium, QStringLiteral("bad"), wrong.work(locked));
        ADD_FAILURE() << "no error";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.message(), "PDF is password-protected");
    }
}

TEST(PdfCompression, StoppedWhileGhostscriptRunsPlacesNothing)
{
    QTemporaryDir dir;
    const QString photo = photoPdf(dir.filePath("photo.pdf"));
    WorkBench bench;
    PDFWork work = bench.work(photo);
    const auto newFile = work.workFile;
    work.workFile = [&](const QString& extension) {
        bench.stop.request_stop();
        return newFile(extension);
    };
    EXPECT_THROW(PDFEngine::compress(fileAt(photo), PDFCompressionLevel::medium, std::nullopt, work),
                 CancellationError);
    EXPECT_TRUE(bench.outputs().isEmpty());
    EXPECT_TRUE(bench.notes->messages().isEmpty());
}

TEST(PdfCompression, MissingGhostscriptSaysSoAndLeavesNothing)
{
    QTemporaryDir dir;
    const QString photo = photoPdf(dir.filePath("photo.pdf"));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", dir.path().toUtf8());
    Capabilities::shared().refreshExternalApps(true);
    WorkBench bench;
    QString message;
    try {
        PDFEngine::compress(fileAt(photo), PDFCompressionLevel::medium, std::nullopt, bench.work(photo));
    } catch (const EngineError& e) {
        message = e.message();
    }
    qputenv("PATH", path);
    Capabilities::shared().refreshExternalApps(true);
    EXPECT_EQ(message, "Install Ghostscript to compress PDFs");
    EXPECT_TRUE(bench.outputs().isEmpty());
}
