#include "support/PdfFixtures.h"

#include "engines/pdf/PDFEngine.h"
#include "model/errors/EngineError.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

namespace {

QString secretPdf(const QString& path)
{
    FixtureDocument doc;
    doc.pages = {FixturePage{"Public one"}, FixturePage{"Classified Wombat"}, FixturePage{"Public three"}};
    doc.outlineTitle = "Chapter two";
    return writeFixturePdf(path, doc);
}

QString failureOf(WorkBench& bench, const std::function<void()>& call)
{
    try {
        call();
    } catch (const EngineError& e) {
        EXPECT_TRUE(bench.outputs().isEmpty());
        return e.message();
    }
    return QStringLiteral("<no error>");
}

} // namespace

TEST(PdfRedaction, BoxedPageBecomesAPictureWithNothingUnderTheBox)
{
    QTemporaryDir dir;
    const QString secret = secretPdf(dir.filePath("secret.pdf"));
    // The word sits on the baseline at y 700, 24 points high.
    const QRectF box(60, 690, 300, 40);
    WorkBench bench;
    const QUrl result = PDFEngine::redact(secret, std::nullopt, {{1, {box}}, {7, {QRectF(0, 0, 10, 10)}}},
                                          bench.work(secret));
    EXPECT_EQ(result.fileName(), "secret (redacted).pdf");
    const QString out = result.toLocalFile();
    EXPECT_TRUE(qpdfCheckPasses(out));

    EXPECT_EQ(pageTexts(out), (QStringList{"Public one", "", "Public three"}));
    const QByteArray all = decompressed(out);
    EXPECT_FALSE(all.contains("Wombat"));
    EXPECT_TRUE(all.contains("Chapter two"));
    const QString images = QString::fromUtf8(toolOutput("pdfimages", {"-list", out}));
    EXPECT_TRUE(images.contains(QRegularExpression("\\n +2 +0 +image +2550 +3300 +rgb +3 +8 +jpeg ")))
        << images.toStdString();
    EXPECT_EQ(images.count("image"), 1);
    EXPECT_EQ(QString::fromUtf8(toolOutput("pdfinfo", {"-f", "2", "-l", "2", out})).contains("612 x 792"), true);

    // Black under the box and nowhere else.
    const PDFDocument redacted = PDFEngine::open(out);
    const QImage page = PDFEngine::renderPage(redacted, 1, 300);
    const auto at = [&](double x, double y) { return qGray(page.pixel(int(x * 300 / 72), int((792 - y) * 300 / 72))); };
    EXPECT_LT(at(200, 710), 40);
    EXPECT_LT(at(65, 695), 40);
    EXPECT_GT(at(200, 600), 215);
    EXPECT_GT(at(400, 710), 215);
    // The outline still leads to the second page.
    const QByteArray outline = toolOutput("qpdf", {"--json", "--json-key=outlines", out});
    EXPECT_TRUE(outline.contains("\"destpageposfrom1\": 2")) << outline.toStdString();
}

TEST(PdfRedaction, TurnedPageIsRedactedUprightWhereTheBoxWasDrawn)
{
    QTemporaryDir dir;
    FixtureDocument doc;
    doc.pages = {FixturePage{"Turned secret", 612, 792, 90}};
    const QString turned = writeFixturePdf(dir.filePath("turned.pdf"), doc);
    WorkBench bench;
    const QUrl result = PDFEngine::redact(turned, std::nullopt, {{0, {QRectF(60, 690, 300, 40)}}},
                                          bench.work(turned));
    const QString out = result.toLocalFile();
    const QByteArray info = toolOutput("pdfinfo", {"-f", "1", "-l", "1", out});
    EXPECT_TRUE(info.contains("792 x 612")) << info.toStdString();
    EXPECT_EQ(rotationOf(out, 1), 0);
    EXPECT_TRUE(pageTexts(out).join("").isEmpty());
    // Turned clockwise, the top left of the page is now at the top right.
    const QImage page = PDFEngine::renderPage(PDFEngine::open(out), 0, 72);
    EXPECT_EQ(page.size(), QSize(792, 612));
    EXPECT_LT(qGray(page.pixel(710, 200)), 40);
    EXPECT_GT(qGray(page.pixel(600, 200)), 215);
}

TEST(PdfRedaction, DrawsTheBoxedPageItselfWhenThePageTreeLies)
{
    QTemporaryDir dir;
    const QString liar = writeLyingPageTreePdf(dir.filePath("liar.pdf"));
    WorkBench bench;
    const QUrl result = PDFEngine::redact(liar, std::nullopt, {{1, {QRectF(500, 40, 20, 20)}}}, bench.work(liar));
    const QString out = result.toLocalFile();
    EXPECT_TRUE(qpdfCheckPasses(out));
    EXPECT_EQ(pageTexts(out), (QStringList{"One", "", "Three"}));
    EXPECT_FALSE(decompressed(out).contains("Wombat"));

    // The picture is of the boxed page, whose words are longer than those of the third.
    const PDFDocument redacted = PDFEngine::open(out);
    const auto ink = [](const QImage& page) {
        int dark = 0;
        for (int y = 60; y < 110; ++y)
            for (int x = 60; x < 400; ++x)
                dark += qGray(page.pixel(x, y)) < 128;
        return dark;
    };
    EXPECT_GT(ink(PDFEngine::renderPage(redacted, 1, 72)), ink(PDFEngine::renderPage(redacted, 2, 72)) * 3 / 2);
    EXPECT_EQ(PDFEngine::plainText(liar).split("\n\n"), (QStringList{"One", "Hidden Wombat", "Three"}));
}

TEST(PdfRedaction, RefusesWithoutBoxesAndWhenAPageCannotBeMade)
{
    QTemporaryDir dir;
    const QString secret = secretPdf(dir.filePath("secret.pdf"));
    WorkBench none;
    EXPECT_EQ(failureOf(none, [&] { PDFEngine::redact(secret, std::nullopt, {}, none.work(secret)); }),
              "Draw at least one box to redact");
    EXPECT_EQ(failureOf(none, [&] { PDFEngine::redact(secret, std::nullopt, {{0, {}}, {1, {}}}, none.work(secret)); }),
              "Draw at least one box to redact");

    FixtureDocument huge;
    huge.pages = {FixturePage{"Small"}, FixturePage{"Vast", 14400, 14400}};
    const QString vast = writeFixturePdf(dir.filePath("vast.pdf"), huge);
    WorkBench big;
    EXPECT_EQ(failureOf(big, [&] {
                  PDFEngine::redact(vast, std::nullopt, {{0, {QRectF(0, 0, 50, 50)}}, {1, {QRectF(0, 0, 50, 50)}}},
                                    big.work(vast));
              }),
              "This page is too large to redact");
}

// Redacted pages become pictures, stand-ins and all: a font that does not load is drawn with
// one of the system's, and the job says so, as drawing pages to pictures does.
TEST(PdfRedaction, PagesDrawnWithStandInsSaySo)
{
    QTemporaryDir dir;
    FixtureDocument doc;
    doc.pages = {FixturePage{"Hello font"}, FixturePage{"Second"}};
    doc.brokenFont = true;
    const QString source = writeFixturePdf(dir.filePath("font.pdf"), doc);
    WorkBench bench;
    const QUrl result = PDFEngine::redact(source, std::nullopt, {{0, {QRectF(0, 0, 20, 20)}}}, bench.work(source));
    EXPECT_EQ(pageCountOf(result.toLocalFile()), 2);
    ASSERT_EQ(bench.notes->messages().size(), 1);
    EXPECT_TRUE(bench.notes->messages().first().contains("stand-ins")) << bench.notes->messages().first().toStdString();

    // An ordinary file says nothing of it.
    const QString plain = secretPdf(dir.filePath("plain.pdf"));
    WorkBench quiet;
    PDFEngine::redact(plain, std::nullopt, {{0, {QRectF(0, 0, 20, 20)}}}, quiet.work(plain));
    EXPECT_TRUE(quiet.notes->messages().isEmpty());
}
