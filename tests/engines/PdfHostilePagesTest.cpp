#include "support/PdfFixtures.h"

#include "engines/pdf/PagePixelBudget.h"
#include "engines/pdf/PageWorkBudget.h"
#include "engines/pdf/PDFEngine.h"
#include "engines/pdf/PDFRenderer.h"
#include "model/errors/EngineError.h"
#include "model/files/FileInfo.h"
#include "model/operations/Capabilities.h"
#include "model/settings/SettingsSnapshot.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>

#include <atomic>
#include <functional>
#include <thread>

using namespace qv;
using namespace qv::test;
using namespace std::chrono_literals;

namespace {

// The sentence a call fails with; empty when it does not fail.
QString failure(const std::function<void()>& call)
{
    try {
        call();
    } catch (const EngineError& e) {
        return e.message();
    }
    return {};
}

FileInfo fileAt(const QString& path)
{
    FileInfo file;
    file.url = QUrl::fromLocalFile(path);
    file.size = QFileInfo(path).size();
    return file;
}

class PdfHostilePages : public ::testing::Test {
protected:
    void TearDown() override
    {
        PDFRenderer::setPageBudget(PageWorkBudget::defaultUnits);
        PDFRenderer::setPageTimeLimit(60s);
        PDFRenderer::setPageOperatorLimit(50'000'000);
    }
    QString make(HostilePage kind, const QString& name)
    {
        return writeHostilePdf(dir.filePath(name), kind);
    }
    QTemporaryDir dir;
};

} // namespace

TEST_F(PdfHostilePages, FormsThatDrawEachOtherTwiceThirtyDeepRunOutOfTheirBudget)
{
    // The default budget takes some seconds to spend; a smaller one ends the same way.
    PDFRenderer::setPageBudget(300'000);
    for (const HostilePage kind : {HostilePage::laughs, HostilePage::annotationLaughs, HostilePage::type3Laughs}) {
        SCOPED_TRACE(int(kind));
        const QString path = make(kind, QStringLiteral("laughs%1.pdf").arg(int(kind)));
        const std::unique_ptr<PDFRenderer> renderer = PDFRenderer::open(path, std::nullopt);
        EXPECT_EQ(failure([&] { renderer->render(0, 150); }), "This page is too complex to render");
        EXPECT_EQ(failure([&] { renderer->text(0); }), "This page is too complex to read");
        EXPECT_EQ(failure([&] { renderer->textLines(0); }), "This page is too complex to read");
        EXPECT_FALSE(renderer->withinBudget(0));

        WorkBench images;
        EXPECT_EQ(failure([&] {
                      PDFEngine::pagesToImages(path, std::nullopt, ImageOutput::png, std::nullopt, 150,
                                               SettingsSnapshot{}, images.work(path));
                  }),
                  "This page is too complex to render");
        EXPECT_TRUE(images.outputs().isEmpty());
        EXPECT_EQ(failure([&] { PDFEngine::plainText(path, std::nullopt); }), "This page is too complex to read");

        WorkBench compressed;
        EXPECT_EQ(failure([&] {
                      PDFEngine::compress(fileAt(path), PDFCompressionLevel::medium, std::nullopt,
                                          compressed.work(path));
                  }),
                  "This page is too complex to compress");
        EXPECT_TRUE(compressed.outputs().isEmpty());
        EXPECT_TRUE(compressed.workLeftovers().isEmpty());
    }
}

TEST_F(PdfHostilePages, ATilingPatternSteppedFinerThanAPixelIsRefusedAtOnce)
{
    // At the default budget: its tiles are counted before a single one is painted.
    const QString path = make(HostilePage::tinyTiles, QStringLiteral("tiles.pdf"));
    const std::unique_ptr<PDFRenderer> renderer = PDFRenderer::open(path, std::nullopt);
    EXPECT_EQ(failure([&] { renderer->render(0, 150); }), "This page is too complex to render");
    // Reading its text paints no tile.
    EXPECT_TRUE(renderer->text(0).contains("Hostile"));
    EXPECT_TRUE(renderer->withinBudget(0));
}

TEST_F(PdfHostilePages, AHugePageIsDrawnAtSixteenThousandPixelsASideAtMost)
{
    const QString path = make(HostilePage::huge, QStringLiteral("huge.pdf"));
    const std::unique_ptr<PDFRenderer> renderer = PDFRenderer::open(path, std::nullopt);
    // Even at 1 dpi 380 km would be 15 million pixels.
    EXPECT_EQ(renderer->pixelsAt(0, 150), QSize(16000, 16000));
    EXPECT_EQ(renderer->pixelsAt(0, 1), QSize(16000, 16000));
    const QImage small = renderer->renderToSize(0, QSize(200, 200), {});
    ASSERT_EQ(small.size(), QSize(200, 200));
    EXPECT_EQ(small.pixelColor(100, 100), QColor(Qt::blue));
    EXPECT_TRUE(renderer->text(0).contains("Hostile"));
    EXPECT_TRUE(renderer->withinBudget(0));

    if (!Capabilities::shared().ghostscriptURL())
        GTEST_SKIP() << "Ghostscript is not installed";
    // Miles wide: more than Ghostscript can make a page.
    WorkBench compressed;
    EXPECT_EQ(failure([&] {
                  PDFEngine::compress(fileAt(path), PDFCompressionLevel::medium, std::nullopt, compressed.work(path));
              }),
              "This page is too large to compress");
    EXPECT_TRUE(compressed.outputs().isEmpty());
}

TEST_F(PdfHostilePages, OperatorsThatDrawNothingAreStoppedAtThePageTimeLimit)
{
    // Twenty million operators take MuPDF seconds and cost no budget.
    const QString path = make(HostilePage::emptyOperators, QStringLiteral("empty.pdf"));
    PDFRenderer::setPageTimeLimit(100ms);
    const std::unique_ptr<PDFRenderer> renderer = PDFRenderer::open(path, std::nullopt);
    EXPECT_EQ(failure([&] { renderer->render(0, 72); }), "This page is too complex to render");
    EXPECT_EQ(failure([&] { renderer->text(0); }), "This page is too complex to read");
    EXPECT_FALSE(renderer->withinBudget(0));
}

TEST_F(PdfHostilePages, APageOfMoreOperatorsThanAnyRealPageIsGivenUpBeforeItsTime)
{
    // The same twenty million operators against a limit of one million, the time left long.
    const QString path = make(HostilePage::emptyOperators, QStringLiteral("empty.pdf"));
    PDFRenderer::setPageOperatorLimit(1'000'000);
    const std::unique_ptr<PDFRenderer> renderer = PDFRenderer::open(path, std::nullopt);
    EXPECT_EQ(failure([&] { renderer->render(0, 72); }), "This page is too complex to render");
    EXPECT_EQ(failure([&] { renderer->text(0); }), "This page is too complex to read");
    // An ordinary page reads a few hundred.
    const QString text = writeTextPdf(dir.filePath(QStringLiteral("text.pdf")), {"One"});
    EXPECT_EQ(PDFRenderer::open(text, std::nullopt)->text(0).trimmed(), "One");
}

TEST_F(PdfHostilePages, OrdinaryPagesStayWellWithinTheirBudget)
{
    // Text pages, and a page of 20,000 strokes across it as a map has: a tenth of the budget
    // would do for each.
    PDFRenderer::setPageBudget(PageWorkBudget::defaultUnits / 10);
    const QString text = writeTextPdf(dir.filePath(QStringLiteral("text.pdf")), {"One", "Two"});
    const std::unique_ptr<PDFRenderer> renderer = PDFRenderer::open(text, std::nullopt);
    EXPECT_EQ(renderer->render(1, 150).size(), QSize(1275, 1650));
    EXPECT_EQ(renderer->text(1).trimmed(), "Two");
    EXPECT_TRUE(renderer->withinBudget(0));

    QByteArray strokes = "0.2 w\n";
    quint32 seed = 7;
    const auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return QByteArray::number(int(seed >> 22) % 600);
    };
    for (int i = 0; i < 20000; ++i)
        strokes += next() + ' ' + next() + " m " + next() + ' ' + next() + " l S\n";
    const QString map = writeContentPdf(dir.filePath(QStringLiteral("map.pdf")), strokes);
    const std::unique_ptr<PDFRenderer> mapRenderer = PDFRenderer::open(map, std::nullopt);
    EXPECT_TRUE(mapRenderer->withinBudget(0));
    EXPECT_EQ(mapRenderer->render(0, 72).size(), QSize(612, 792));

    // Type3 glyphs of a picture each, or of a form drawn a few times, are drawn.
    const QString type3 = writeType3Pdf(dir.filePath(QStringLiteral("type3.pdf")));
    const std::unique_ptr<PDFRenderer> type3Renderer = PDFRenderer::open(type3, std::nullopt);
    EXPECT_TRUE(type3Renderer->withinBudget(0));
    const QImage glyphs = type3Renderer->render(0, 72);
    // The form's first square, in the second glyph: 48 points a glyph, a tenth of it a square.
    EXPECT_EQ(glyphs.pixelColor(72 + 48 + 2, 792 - 700 - 2), QColor(Qt::black));
}

TEST(PagePixelBudget, PagesLargerTogetherThanTheBudgetTakeTurns)
{
    PagePixelBudget budget(100);
    ASSERT_TRUE(budget.take(60, {}));
    std::atomic<bool> taken{false};
    std::jthread second([&] {
        if (budget.take(60, {}))
            taken = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(taken);
    // One alone may take more than the whole.
    budget.give(60);
    second.join();
    EXPECT_TRUE(taken);
    budget.give(60);
    ASSERT_TRUE(budget.take(500, {}));
    std::stop_source stop;
    std::jthread third([&] { taken = budget.take(1, stop.get_token()); });
    stop.request_stop();
    third.join();
    EXPECT_FALSE(taken);
}
