#include "support/PdfFixtures.h"
#include "support/TestFiles.h"

#include "engines/pdf/PDFEngine.h"
#include "model/errors/EngineError.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

TEST(PdfEngine, OpensUnlocksOrRefusesWithTheRightSentence)
{
    QTemporaryDir dir;
    const QString plain = writeTextPdf(dir.filePath("plain.pdf"), {"one"});
    const QString locked = lockedCopy(plain, dir.filePath("locked.pdf"), "s3cret");
    const QString junk = writeJunkPdf(dir.filePath("junk.pdf"));

    EXPECT_EQ(PDFEngine::open(plain).pageCount(), 1);
    EXPECT_EQ(PDFEngine::open(plain, QStringLiteral("ignored")).pageCount(), 1);
    EXPECT_EQ(PDFEngine::open(locked, QStringLiteral("s3cret")).pageCount(), 1);
    EXPECT_EQ(failureOf([&] { PDFEngine::open(junk); }), "This file is damaged or not in a supported format");
    EXPECT_EQ(failureOf([&] { PDFEngine::open(locked); }), "PDF is password-protected");
    EXPECT_EQ(failureOf([&] { PDFEngine::open(locked, QString()); }), "That password didn't unlock the PDF");
    EXPECT_EQ(failureOf([&] { PDFEngine::open(locked, QStringLiteral("nope")); }),
              "That password didn't unlock the PDF");
    // A locked document renders and reads once unlocked.
    EXPECT_EQ(PDFEngine::plainText(locked, QStringLiteral("s3cret")).trimmed(), "one");
}

TEST(PdfEngine, RendersAtTheResolutionTurnedAndCapped)
{
    QTemporaryDir dir;
    FixtureDocument doc;
    doc.pages = {FixturePage{"Letter"}, FixturePage{"Turned", 612, 792, 90},
                 FixturePage{"Upside", 612, 792, 180}, FixturePage{"", 14400, 10},
                 FixturePage{"", 0.5, 0.5}};
    const QString path = writeFixturePdf(dir.filePath("sizes.pdf"), doc);
    const PDFDocument document = PDFEngine::open(path);

    const QImage letter = PDFEngine::renderPage(document, 0, 300);
    EXPECT_EQ(letter.size(), QSize(2550, 3300));
    EXPECT_EQ(PDFEngine::renderPage(document, 0, 72).size(), QSize(612, 792));
    EXPECT_EQ(PDFEngine::renderPage(document, 1, 150).size(), QSize(1650, 1275));
    EXPECT_EQ(PDFEngine::renderPage(document, 2, 150).size(), QSize(1275, 1650));
    // The longer side is capped, the other scaled with it.
    EXPECT_EQ(PDFEngine::renderPage(document, 3, 300).size(), QSize(16000, 11));
    EXPECT_EQ(PDFEngine::renderPage(document, 4, 72).size(), QSize(1, 1));

    // Opaque white around black text.
    EXPECT_EQ(letter.pixelColor(5, 5), QColor(Qt::white));
    int dark = 0;
    for (int y = 250; y < 400; ++y)
        for (int x = 300; x < 900; ++x)
            dark += qGray(letter.pixel(x, y)) < 100;
    EXPECT_GT(dark, 500);
}

TEST(PdfEngine, CopiesPagesInTheGivenOrderAndReadsText)
{
    QTemporaryDir dir;
    const QString path = writeTextPdf(dir.filePath("three.pdf"), {"Alpha", "Bravo", "Charlie"});
    const PDFDocument document = PDFEngine::open(path);

    const PDFDocument copy = PDFEngine::copyPages(document, {2, 0, 0});
    const QString out = dir.filePath("copy.pdf");
    copy.write(out);
    EXPECT_TRUE(qpdfCheckPasses(out));
    EXPECT_EQ(pageTexts(out), (QStringList{"Charlie", "Alpha", "Alpha"}));
    EXPECT_EQ(PDFEngine::copyPages(document, {5}).pageCount(), 0);
    // A document built in memory still renders.
    EXPECT_EQ(PDFEngine::renderPage(copy, 1, 72).size(), QSize(612, 792));

    EXPECT_EQ(PDFEngine::plainText(path), "Alpha\n\nBravo\n\nCharlie");
    const QString blank = writeTextPdf(dir.filePath("blank.pdf"), {"", ""});
    EXPECT_EQ(PDFEngine::plainText(blank).trimmed(), "");
}

TEST(PdfEngine, SplitGroupsAndPageLabels)
{
    using G = QList<QList<int>>;
    EXPECT_EQ(PDFEngine::splitGroups(SplitMode::everyNPages(3), 10),
              (G{{0, 1, 2}, {3, 4, 5}, {6, 7, 8}, {9}}));
    EXPECT_EQ(PDFEngine::splitGroups(SplitMode::everyNPages(0), 2), (G{{0}, {1}}));
    EXPECT_EQ(PDFEngine::splitGroups(SplitMode::everyNPages(1), 2), (G{{0}, {1}}));
    EXPECT_EQ(PDFEngine::splitGroups(SplitMode::ranges({{0, 2}, {5, 99}}), 6), (G{{0, 1}, {4, 5}}));
    EXPECT_EQ(PDFEngine::splitGroups(SplitMode::ranges({{8, 9}}), 6), G{});
    EXPECT_EQ(PDFEngine::splitGroups(SplitMode::ranges({{3, 4}, {1, 3}}), 6), (G{{2, 3}, {0, 1, 2}}));
    EXPECT_EQ(PDFEngine::splitGroups(SplitMode::parts(2), 3), (G{{0}, {1}, {2}}));
    EXPECT_EQ(PDFEngine::splitGroups(SplitMode::everyPage(), 0), G{});

    EXPECT_EQ(PDFEngine::pageLabel({7, 1, 3, 2}), "1-3, 7");
    EXPECT_EQ(PDFEngine::pageLabel({4}), "4");
    EXPECT_EQ(PDFEngine::pageLabel({1, 2, 4, 5, 9}), "1-2, 4-5, 9");
}
