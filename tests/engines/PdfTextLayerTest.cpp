#include "support/CodePictures.h"
#include "support/PdfFixtures.h"
#include "support/ScanFixtures.h"
#include "support/SmallDisk.h"
#include "support/TestFiles.h"

#include "engines/pdf/PDFEngine.h"
#include "engines/vision/VisionEngine.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/errors/JobFailure.h"
#include "model/errors/SystemError.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <QRegularExpression>

#include <atomic>
#include <mutex>
#include <set>

using namespace qv;
using namespace qv::test;

namespace {

const QString kFont = QStringLiteral("/usr/share/tesseract-ocr/5/tessdata/pdf.ttf");

PageTextLines recognise(const QImage& picture, double dpi, std::stop_token stop) {
    PageTextLines lines;
    for (const RecognizedLine& line : VisionEngine::recognizeText(picture, dpi, stop))
        lines.append({line.text, line.box});
    return lines;
}

QStringList codesIn(const QImage& picture, std::stop_token stop) {
    QStringList payloads;
    for (const DetectedCode& code : VisionEngine::detectBarcodes(picture, stop))
        payloads.append(code.payload);
    return payloads;
}

// Small pages keep recognition quick: 4 x 2 inches at 300 dpi.
const QSize kPage(1200, 600);

QImage textPage(const QStringList& lines) {
    return scanPicture({lines, 44, {}}, kPage);
}

QImage blankPage() {
    return scanPicture({}, kPage);
}

QString errorOf(const std::function<void()>& work) {
    try {
        work();
    } catch (const EngineError& error) {
        return error.message();
    } catch (const SystemError&) {
        return jobFailure(std::current_exception()).message;
    }
    return QStringLiteral("no error");
}

// pdftotext's word boxes of one page: word -> (xMin, yMin, xMax, yMax), origin at the top left.
QMap<QString, QRectF> wordBoxes(const QString& pdf, int page) {
    const QString html =
        QString::fromUtf8(toolOutput("pdftotext", {"-bbox", "-f", QString::number(page), "-l",
                                                   QString::number(page), pdf, "-"}));
    QMap<QString, QRectF> boxes;
    static const QRegularExpression word(
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re");
    for (auto it = word.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        boxes.insert(m.captured(5),
                     QRectF(QPointF(m.captured(1).toDouble(), m.captured(2).toDouble()),
                            QPointF(m.captured(3).toDouble(), m.captured(4).toDouble())));
    }
    return boxes;
}

} // namespace

TEST(PdfTextLayer, ScannedPagesGainTheirWordsAndLookAsBefore) {
    WorkBench bench;
    const QString scan =
        writeScanPdf(bench.root.filePath("in/scan.pdf"),
                     {textPage({"Harbour lights glow", "Seventeen purple whales"}),
                      textPage({"Marmalade invoice", "Quantum giraffe"}), blankPage()});
    const QByteArray before = readFile(scan);

    const QUrl result = PDFEngine::addTextLayer(scan, recognise, kFont, bench.work(scan));

    EXPECT_EQ(result.fileName(), "scan (searchable).pdf");
    EXPECT_EQ(bench.outputs(), QStringList{"scan (searchable).pdf"});
    EXPECT_EQ(bench.notes->messages(), QStringList{"Text added to 2 pages"});
    EXPECT_EQ(readFile(scan), before);
    const QString out = result.toLocalFile();
    EXPECT_TRUE(qpdfCheckPasses(out));
    EXPECT_EQ(pdfinfoValue(out, "Creator"), "Quorvenda");

    const QStringList texts = pageTexts(out);
    ASSERT_EQ(texts.size(), 3);
    for (const char* word : {"Harbour", "lights", "Seventeen", "purple", "whales"}) {
        EXPECT_TRUE(texts[0].contains(word)) << word << " in " << texts[0].toStdString();
        EXPECT_FALSE(texts[1].contains(word)) << word;
    }
    for (const char* word : {"Marmalade", "invoice", "Quantum", "giraffe"})
        EXPECT_TRUE(texts[1].contains(word)) << word << " in " << texts[1].toStdString();
    EXPECT_TRUE(texts[2].trimmed().isEmpty());
    // Lines come out as lines: the first line's words in order, before the second's.
    EXPECT_TRUE(texts[0].simplified().startsWith("Harbour lights glow Seventeen"))
        << texts[0].toStdString();

    for (int page = 1; page <= 3; ++page) {
        const QByteArray original = pdftoppmPage(scan, page);
        ASSERT_FALSE(original.isEmpty());
        EXPECT_EQ(pdftoppmPage(out, page), original) << "page " << page;
    }
    EXPECT_TRUE(bench.workLeftovers().isEmpty());
}

TEST(PdfTextLayer, LinesSitOverTheirPlaceOnTurnedAndShiftedPages) {
    // A reader that finds one line in the middle of the upper half of every picture.
    const PageTextReader reader = [](const QImage&, double, std::stop_token) {
        return PageTextLines{
            {QStringLiteral("Wombat"), QRectF(0.25, 0.6, 0.5, 0.1)},
            {QString::fromUtf8("Crème brûlée ½ \xF0\x9D\x84\x9E"), QRectF(0.1, 0.2, 0.8, 0.05)}};
    };
    WorkBench bench;
    FixtureDocument document;
    document.pages = {FixturePage({}, 612, 792, 0), FixturePage({}, 612, 792, 90),
                      FixturePage({}, 400, 300, 270)};
    const QString source = writeFixturePdf(bench.root.filePath("in/turned.pdf"), document);
    // The same pages with their media boxes moved away from the origin.
    QByteArray shifted = readFile(source);
    shifted.replace("/MediaBox [0 0 612 792]", "/MediaBox [7 8 619 800]");
    ASSERT_NE(shifted, readFile(source));
    const QString moved = writeFile(bench.root.filePath("in/moved.pdf"), shifted);

    for (const QString& input : {source, moved}) {
        WorkBench each;
        const QUrl result = PDFEngine::addTextLayer(input, reader, kFont, each.work(input));
        const QList<QSizeF> shown{{612, 792}, {792, 612}, {300, 400}};
        for (int page = 1; page <= 3; ++page) {
            const QMap<QString, QRectF> boxes = wordBoxes(result.toLocalFile(), page);
            ASSERT_TRUE(boxes.contains("Wombat")) << input.toStdString() << " page " << page;
            const QRectF box = boxes.value("Wombat");
            const QSizeF size = shown[page - 1];
            // pdftotext measures from the top left of the page as shown.
            EXPECT_NEAR(box.left(), 0.25 * size.width(), 2) << "page " << page;
            EXPECT_NEAR(box.right(), 0.75 * size.width(), 2) << "page " << page;
            const double centre = box.center().y();
            EXPECT_GT(centre, 0.3 * size.height()) << "page " << page;
            EXPECT_LT(centre, 0.4 * size.height()) << "page " << page;
            // Every character extracts as itself, beyond the basic plane too.
            EXPECT_TRUE(boxes.contains(QString::fromUtf8("brûlée")))
                << boxes.keys().join(" ").toStdString();
            EXPECT_TRUE(boxes.contains(QString::fromUtf8("\xF0\x9D\x84\x9E")))
                << boxes.keys().join(" ").toStdString();
        }
    }
}

// The words are read off pictures of the pages; where a font did not load, those pictures hold
// stand-ins for its letters, and the job says so.
TEST(PdfTextLayer, PagesReadOffStandInsSaySo) {
    const PageTextReader reader = [](const QImage&, double, std::stop_token) {
        return PageTextLines{{QStringLiteral("Hello"), QRectF(0.1, 0.1, 0.3, 0.05)}};
    };
    WorkBench bench;
    FixtureDocument document;
    document.pages = {FixturePage{QStringLiteral("Hello font")}};
    document.brokenFont = true;
    const QString source = writeFixturePdf(bench.root.filePath("in/font.pdf"), document);
    PDFEngine::addTextLayer(source, reader, kFont, bench.work(source));
    EXPECT_EQ(bench.notes->messages().size(), 2);
    EXPECT_TRUE(bench.notes->messages().last().contains("stand-ins")) << bench.notes->messages().last().toStdString();
}

TEST(PdfTextLayer, OnlyPagesWithoutTextAreRead) {
    std::mutex lock;
    int reads = 0;
    const PageTextReader counting = [&](const QImage&, double dpi, std::stop_token) {
        EXPECT_EQ(dpi, 300);
        std::lock_guard locker(lock);
        ++reads;
        return PageTextLines{{QStringLiteral("found"), QRectF(0.1, 0.1, 0.5, 0.05)}};
    };
    WorkBench bench;
    // 30 characters count as no text of its own, 31 as text.
    const QString header = writeTextPdf(bench.root.filePath("in/header.pdf"),
                                        {QString(30, 'x'), QString(31, 'y'), QString()});
    PDFEngine::addTextLayer(header, counting, kFont, bench.work(header));
    EXPECT_EQ(reads, 2);
    EXPECT_EQ(bench.notes->messages(), QStringList{"Text added to 2 pages"});

    reads = 0;
    WorkBench born;
    const QString digital = writeTextPdf(
        born.root.filePath("in/born.pdf"),
        {"A page that has plenty of text of its own", "And so does this second one here"});
    EXPECT_EQ(
        errorOf([&] { PDFEngine::addTextLayer(digital, counting, kFont, born.work(digital)); }),
        "This PDF already has selectable text");
    EXPECT_EQ(reads, 0);
    EXPECT_TRUE(born.outputs().isEmpty());
    EXPECT_TRUE(born.workLeftovers().isEmpty());

    WorkBench blank;
    const QString empty =
        writeScanPdf(blank.root.filePath("in/blank.pdf"), {blankPage(), blankPage()});
    EXPECT_EQ(errorOf([&] { PDFEngine::addTextLayer(empty, recognise, kFont, blank.work(empty)); }),
              "No text was found");
    EXPECT_TRUE(blank.outputs().isEmpty());
    EXPECT_TRUE(blank.workLeftovers().isEmpty());
    EXPECT_TRUE(blank.notes->messages().isEmpty());
}

TEST(PdfTextLayer, DamagedLockedAndStoppedRunsPlaceNothing) {
    const PageTextReader never = [](const QImage&, double, std::stop_token) -> PageTextLines {
        ADD_FAILURE() << "nothing should be read";
        return {};
    };
    WorkBench bench;
    const QString junk = writeJunkPdf(bench.root.filePath("in/junk.pdf"));
    const QByteArray junkBytes = readFile(junk);
    EXPECT_EQ(errorOf([&] { PDFEngine::addTextLayer(junk, never, kFont, bench.work(junk)); }),
              "This file is damaged or not in a supported format");
    EXPECT_EQ(readFile(junk), junkBytes);

    const QString scan = writeScanPdf(bench.root.filePath("in/scan.pdf"), {blankPage()});
    const QString locked = lockedCopy(scan, bench.root.filePath("in/locked.pdf"), "secret");
    EXPECT_EQ(errorOf([&] { PDFEngine::addTextLayer(locked, never, kFont, bench.work(locked)); }),
              "PDF is password-protected");

    // A stop while the pages are read ends the run with nothing placed.
    std::atomic<int> reads = 0;
    PDFWork work = bench.work(scan);
    const QString many =
        writeScanPdf(bench.root.filePath("in/many.pdf"), QList<QImage>(12, blankPage()));
    work.stop = bench.stop.get_token();
    const PageTextReader stopping = [&](const QImage&, double,
                                        std::stop_token stop) -> PageTextLines {
        if (++reads == 2) bench.stop.request_stop();
        throwIfCancelled(stop);
        return {{QStringLiteral("late"), QRectF(0.1, 0.1, 0.5, 0.1)}};
    };
    EXPECT_THROW(PDFEngine::addTextLayer(many, stopping, kFont, work), CancellationError);
    EXPECT_LT(reads.load(), 12);
    EXPECT_TRUE(bench.outputs().isEmpty());
    EXPECT_TRUE(bench.workLeftovers().isEmpty());
    EXPECT_TRUE(bench.notes->messages().isEmpty());
}

TEST(PdfCodes, OnlyTheFirstThirtyPagesAreRead) {
    QTemporaryDir dir;
    QImage withCode = blankPage();
    {
        QPainter painter(&withCode);
        painter.drawImage(QPoint(100, 100), qrCodePicture("https://example.org/page-two", 300));
    }
    const QString three =
        writeScanPdf(dir.filePath("three.pdf"), {blankPage(), withCode, blankPage()});
    EXPECT_EQ(PDFEngine::readCodes(three, std::nullopt, codesIn),
              QStringList{"https://example.org/page-two"});

    QList<QImage> pages(40, blankPage());
    pages[34] = withCode;
    const QString forty = writeScanPdf(dir.filePath("forty.pdf"), pages, 150);
    std::set<int> widths;
    int reads = 0;
    const PageCodeReader counting = [&](const QImage& picture, std::stop_token stop) {
        ++reads;
        widths.insert(picture.width());
        return codesIn(picture, stop);
    };
    EXPECT_TRUE(PDFEngine::readCodes(forty, std::nullopt, counting).isEmpty());
    EXPECT_EQ(reads, 30);
    // Pages as large as their 150-dpi pictures come back at their own size.
    EXPECT_EQ(widths, std::set<int>{kPage.width()});

    const QString none = writeTextPdf(dir.filePath("none.pdf"), {});
    EXPECT_TRUE(PDFEngine::readCodes(none, std::nullopt, counting).isEmpty());
    EXPECT_EQ(reads, 30);
}

TEST(PdfTextLayer, AVastPageIsReadAtALowerResolution) {
    QSize seen;
    double seenDPI = 0;
    const PageTextReader reader = [&](const QImage& picture, double dpi, std::stop_token) {
        seen = picture.size();
        seenDPI = dpi;
        return PageTextLines{{QStringLiteral("Vast"), QRectF(0.1, 0.5, 0.8, 0.1)}};
    };
    WorkBench bench;
    FixtureDocument document;
    document.pages = {FixturePage({}, 14400, 14400)};
    const QString vast = writeFixturePdf(bench.root.filePath("in/vast.pdf"), document);
    const QUrl result = PDFEngine::addTextLayer(vast, reader, kFont, bench.work(vast));
    // 200 inches square: 300 dpi would be 3.6 billion pixels; at most 40 million are drawn.
    EXPECT_LE(qint64(seen.width()) * seen.height(), 40'000'000);
    EXPECT_GT(seen.width(), 6000);
    EXPECT_NEAR(seenDPI, seen.width() / 200.0, 0.1);
    EXPECT_TRUE(pageTexts(result.toLocalFile()).value(0).contains("Vast"));
}

TEST(PdfTextLayer, AFullDiskFailsTheRunAndLeavesNoHalfFile) {
    SmallDisk disk(64 * 1024);
    if (!disk.isMounted()) GTEST_SKIP() << "no tmpfs (needs root)";
    const PageTextReader reader = [](const QImage&, double, std::stop_token) {
        return PageTextLines{{QStringLiteral("Words"), QRectF(0.1, 0.5, 0.5, 0.1)}};
    };
    WorkBench bench;
    // Noise does not compress: the copy is larger than the disk.
    QImage noise(600, 400, QImage::Format_Grayscale8);
    for (int y = 0; y < noise.height(); ++y) {
        for (int x = 0; x < noise.width(); ++x)
            noise.scanLine(y)[x] = uchar((x * 7919 + y * 104729 + (x * y) % 251) % 256);
    }
    const QString scan = writeScanPdf(bench.root.filePath("in/noise.pdf"), {noise});
    ASSERT_GT(QFileInfo(scan).size(), 64 * 1024);
    PDFWork work = bench.work(scan);
    work.workFile = [&disk](const QString& extension) {
        return QUrl::fromLocalFile(disk.filePath(QStringLiteral("work.") + extension));
    };
    EXPECT_EQ(errorOf([&] { PDFEngine::addTextLayer(scan, reader, kFont, work); }),
              "Not enough disk space");
    EXPECT_TRUE(folderEntries(disk.path()).isEmpty());
    EXPECT_TRUE(bench.outputs().isEmpty());
    EXPECT_TRUE(bench.notes->messages().isEmpty());
}
