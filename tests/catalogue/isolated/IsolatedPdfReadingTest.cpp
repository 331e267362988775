#include "catalogue/isolated/CatalogueWorkers.h"
#include "catalogue/isolated/IsolatedPdfReading.h"
#include "catalogue/isolated/IsolatedReading.h"
#include "jobs/WorkerPool.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "support/PdfFixtures.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <thread>

using namespace qv;

namespace {

// Both roads answer alike: read here, and read in a worker as the application does.
class IsolatedPdfReadingTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        if (GetParam()) {
            qputenv("QUORVENDA_WORKER", QV_BUILD_DIR "/quorvenda-worker");
            IsolatedReading::setEnabled(true);
        }
    }
    void TearDown() override { IsolatedReading::setEnabled(false); }

    QTemporaryDir dir;
};

// One page that takes minutes to draw: a form of 2000 strokes drawn 50 times by a form drawn
// 50 times.
QString writeEndlessPdf(const QString& path)
{
    QByteArray strokes;
    quint32 seed = 7;
    const auto next = [&seed] {
        seed = seed * 1103515245 + 12345;
        return (seed >> 8) % 600;
    };
    for (int i = 0; i < 2000; ++i)
        strokes += QByteArray::number(next()) + ' ' + QByteArray::number(next()) + " m "
            + QByteArray::number(next()) + ' ' + QByteArray::number(next()) + " l S\n";
    QByteArray many;
    for (int i = 0; i < 50; ++i)
        many += "/B Do\n";
    QByteArray page;
    for (int i = 0; i < 50; ++i)
        page += "/A Do\n";
    const auto stream = [](const QByteArray& dict, const QByteArray& data) {
        return "<< " + dict + " /Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data
            + "\nendstream";
    };
    const QList<QByteArray> objects{
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 600 600] /Contents 4 0 R"
        " /Resources << /XObject << /A 5 0 R >> >> >>",
        stream("", page),
        stream("/Type /XObject /Subtype /Form /BBox [0 0 600 600] /Resources << /XObject << /B 6 0 R >> >>", many),
        stream("/Type /XObject /Subtype /Form /BBox [0 0 600 600]", strokes),
    };
    QByteArray out = "%PDF-1.7\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets.append(out.size());
        out += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = out.size();
    out += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        out += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    out += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n"
        + QByteArray::number(xref) + "\n%%EOF\n";
    return test::writeFile(path, out);
}

} // namespace

TEST_P(IsolatedPdfReadingTest, OutlinesAndPagesComeAsTheEngineDrawsThem)
{
    test::FixtureDocument document;
    document.pages = {test::FixturePage(QStringLiteral("Letter")),
                      test::FixturePage(QStringLiteral("Wide"), 842, 595),
                      test::FixturePage(QStringLiteral("Turned"), 612, 792, 90)};
    const QString path = test::writeFixturePdf(dir.filePath(QStringLiteral("three.pdf")), document);

    const IsolatedPdfReading::Outline counted = IsolatedPdfReading::outline(path, std::nullopt, 0);
    EXPECT_EQ(counted.pageCount, 3);
    EXPECT_TRUE(counted.pageSizes.isEmpty());
    const IsolatedPdfReading::Outline outline = IsolatedPdfReading::outline(path, std::nullopt, IsolatedPdfReading::everyPage);
    EXPECT_EQ(outline.pageSizes, (QList<QSizeF>{{612, 792}, {842, 595}, {792, 612}}));
    EXPECT_EQ(IsolatedPdfReading::outline(path, std::nullopt, 1).pageSizes, QList<QSizeF>{QSizeF(612, 792)});

    const IsolatedPdfReading::Page wide = IsolatedPdfReading::page(path, std::nullopt, 1, QSize(220, 280));
    EXPECT_EQ(wide.picture.size(), QSize(220, 155));
    EXPECT_EQ(wide.picture.format(), QImage::Format_RGB888);
    EXPECT_EQ(wide.picture.pixelColor(200, 10), QColor(Qt::white));
    // The page's own lower left corner lands at the picture's lower left.
    const QPointF corner = wide.pageToPixel.map(QPointF(0, 0));
    EXPECT_NEAR(corner.x(), 0, 1);
    EXPECT_NEAR(corner.y(), 155, 1);

    // A turned page: its own upper left (0, 792) is drawn at the upper right.
    const IsolatedPdfReading::Page turned = IsolatedPdfReading::page(path, std::nullopt, 2, QSize(1000, 1 << 20));
    EXPECT_EQ(turned.picture.size(), QSize(1000, 773));
    const QPointF upperLeft = turned.pageToPixel.map(QPointF(0, 792));
    EXPECT_NEAR(upperLeft.x(), 1000, 2);
    EXPECT_NEAR(upperLeft.y(), 0, 2);

    EXPECT_THROW(IsolatedPdfReading::page(path, std::nullopt, 3, QSize(220, 280)), EngineError);
}

TEST_P(IsolatedPdfReadingTest, DamagedAndLockedFilesAreRefusedWithTheEnginesSentences)
{
    const QString junk = test::writeJunkPdf(dir.filePath(QStringLiteral("junk.pdf")));
    EXPECT_THROW(IsolatedPdfReading::outline(junk, std::nullopt, 0), EngineError);
    EXPECT_THROW(IsolatedPdfReading::page(junk, std::nullopt, 0, QSize(220, 280)), EngineError);

    const QString plain = test::writeTextPdf(dir.filePath(QStringLiteral("plain.pdf")), {QStringLiteral("Secret")});
    const QByteArray whole = test::readFile(plain);
    const QString cut = test::writeFile(dir.filePath(QStringLiteral("cut.pdf")), whole.left(whole.size() / 2));
    EXPECT_THROW(IsolatedPdfReading::outline(cut, std::nullopt, IsolatedPdfReading::everyPage), EngineError);

    // A table of objects that has to be rebuilt and finds every object: read whole, as other
    // programs read it. One whose rebuilt table misses a page's resources: damage to the
    // editors, a page to a preview.
    const QString rebuilt = test::writeFile(dir.filePath(QStringLiteral("rebuilt.pdf")),
        "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
        "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
        "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] >> endobj\n"
        "trailer << /Root 1 0 R >>\n%%EOF\n");
    EXPECT_EQ(IsolatedPdfReading::outline(rebuilt, std::nullopt, 1).pageSizes, QList<QSizeF>{QSizeF(300, 200)});
    EXPECT_EQ(IsolatedPdfReading::page(rebuilt, std::nullopt, 0, QSize(150, 150)).picture.size(), QSize(150, 100));
    const QString repaired = test::writeFile(dir.filePath(QStringLiteral("repaired.pdf")),
        "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
        "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
        "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Resources 4 0 R >> endobj\n"
        "trailer << /Root 1 0 R >>\n%%EOF\n");
    EXPECT_THROW(IsolatedPdfReading::outline(repaired, std::nullopt, 1), EngineError);
    EXPECT_EQ(IsolatedPdfReading::outline(repaired, std::nullopt, 1, {}, IsolatedPdfReading::Damage::drawn).pageSizes,
              QList<QSizeF>{QSizeF(300, 200)});
    EXPECT_EQ(IsolatedPdfReading::page(repaired, std::nullopt, 0, QSize(150, 150), {}, IsolatedPdfReading::Damage::drawn)
                  .picture.size(),
              QSize(150, 100));
    EXPECT_THROW(IsolatedPdfReading::page(repaired, std::nullopt, 0, QSize(150, 150)), EngineError);
    EXPECT_THROW(IsolatedPdfReading::outline(junk, std::nullopt, 1, {}, IsolatedPdfReading::Damage::drawn), EngineError);

    const QString locked = test::lockedCopy(plain, dir.filePath(QStringLiteral("locked.pdf")), QStringLiteral("pw"));
    ASSERT_TRUE(QFile::exists(locked));
    EXPECT_THROW(IsolatedPdfReading::outline(locked, std::nullopt, 0), EngineError);
    EXPECT_THROW(IsolatedPdfReading::outline(locked, QStringLiteral("wrong"), 0), EngineError);
    EXPECT_EQ(IsolatedPdfReading::outline(locked, QStringLiteral("pw"), 0).pageCount, 1);
    EXPECT_EQ(IsolatedPdfReading::page(locked, QStringLiteral("pw"), 0, QSize(220, 280)).picture.size(), QSize(216, 280));
}

TEST_P(IsolatedPdfReadingTest, AStopEndsAPageThatWouldTakeMinutesAndTheNextPageStillComes)
{
    const QString endless = writeEndlessPdf(dir.filePath(QStringLiteral("endless.pdf")));
    EXPECT_EQ(IsolatedPdfReading::outline(endless, std::nullopt, IsolatedPdfReading::everyPage).pageSizes, (QList<QSizeF>{{600, 600}}));
    std::stop_source stop;
    std::jthread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop.request_stop();
    });
    EXPECT_THROW(IsolatedPdfReading::page(endless, std::nullopt, 0, QSize(3000, 3000), stop.get_token()),
                 CancellationError);

    const QString plain = test::writeTextPdf(dir.filePath(QStringLiteral("plain.pdf")), {QStringLiteral("After")});
    EXPECT_FALSE(IsolatedPdfReading::page(plain, std::nullopt, 0, QSize(100, 100)).picture.isNull());
}

TEST_P(IsolatedPdfReadingTest, AChangedFileIsReadAfresh)
{
    const QString path = dir.filePath(QStringLiteral("changing.pdf"));
    test::writeTextPdf(path, {QStringLiteral("1"), QStringLiteral("2")});
    EXPECT_EQ(IsolatedPdfReading::outline(path, std::nullopt, 0).pageCount, 2);
    QFile::remove(path);
    test::writeTextPdf(path, {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")});
    EXPECT_EQ(IsolatedPdfReading::outline(path, std::nullopt, 0).pageCount, 3);
    EXPECT_FALSE(IsolatedPdfReading::page(path, std::nullopt, 2, QSize(100, 100)).picture.isNull());
}

INSTANTIATE_TEST_SUITE_P(Roads, IsolatedPdfReadingTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("InAWorker") : std::string("InProcess");
                         });

TEST(IsolatedPdfReading, ManyPagesAtOnceShareAFewWorkers)
{
    qputenv("QUORVENDA_WORKER", QV_BUILD_DIR "/quorvenda-worker");
    IsolatedReading::setEnabled(true);
    const auto off = qScopeGuard([] { IsolatedReading::setEnabled(false); });
    QTemporaryDir dir;
    QStringList texts;
    for (int i = 0; i < 24; ++i)
        texts.append(QString::number(i + 1));
    const QString path = test::writeTextPdf(dir.filePath(QStringLiteral("many.pdf")), texts);
    const int startedBefore = catalogueWorkers().startedCount();
    std::atomic<int> next = 0;
    std::atomic<int> drawn = 0;
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 3; ++t) {
            threads.emplace_back([&] {
                for (int index = next++; index < 24; index = next++) {
                    if (IsolatedPdfReading::page(path, std::nullopt, index, QSize(220, 280)).picture.size() == QSize(216, 280))
                        ++drawn;
                }
            });
        }
    }
    EXPECT_EQ(drawn, 24);
    // A worker per page at once at most, not one per page.
    EXPECT_LE(catalogueWorkers().startedCount() - startedBefore, 3 + 2);
}
