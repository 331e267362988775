#include "app/preview/PdfPreview.h"
#include "app/preview/PreviewContent.h"
#include "catalogue/isolated/IsolatedReading.h"
#include "support/PdfFixtures.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QScrollBar>
#include <QTemporaryDir>

using namespace qv;

namespace {

// The preview shows the same whether the PDF is read here or in a worker, as the application does.
class PdfPreviewTest : public ::testing::TestWithParam<bool> {
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

} // namespace

TEST_P(PdfPreviewTest, PagesInSightAreDrawnAndScrollingDrawsTheRest)
{
    QStringList texts;
    for (int i = 0; i < 30; ++i)
        texts.append(QString::number(i + 1));
    PdfPreview preview(test::writeTextPdf(dir.filePath(QStringLiteral("long.pdf")), texts));
    EXPECT_EQ(preview.firstPageSize(), QSizeF(612, 792));
    EXPECT_EQ(preview.pageCount(), 30);
    preview.resize(400, 500);
    preview.show();
    ASSERT_TRUE(test::waitFor([&] { return preview.isDrawn(0); }, 60000));
    EXPECT_FALSE(preview.isDrawn(29));
    EXPECT_NEAR(double(preview.pageRect(0).height()) / preview.pageRect(0).width(), 792.0 / 612.0, 0.01);

    preview.verticalScrollBar()->setValue(preview.verticalScrollBar()->maximum());
    ASSERT_TRUE(test::waitFor([&] { return preview.isDrawn(29); }, 60000));
    // Pages long out of sight are let go.
    EXPECT_FALSE(preview.isDrawn(0));

    // Wider, the pages in sight are drawn again for their new width.
    preview.resize(700, 500);
    preview.verticalScrollBar()->setValue(preview.verticalScrollBar()->maximum());
    ASSERT_TRUE(test::waitFor([&] { return preview.isDrawn(29); }, 60000));
    EXPECT_GT(preview.pageRect(29).width(), 600);
}

TEST_P(PdfPreviewTest, PagesOfOtherSizesAndTurnedPagesTakeTheirOwnShape)
{
    test::FixtureDocument document;
    document.pages = {test::FixturePage(QStringLiteral("Turned"), 612, 792, 90),
                      test::FixturePage(QStringLiteral("Square"), 500, 500)};
    PdfPreview preview(test::writeFixturePdf(dir.filePath(QStringLiteral("mixed.pdf")), document));
    EXPECT_EQ(preview.firstPageSize(), QSizeF(792, 612));
    preview.resize(400, 800);
    preview.show();
    ASSERT_TRUE(test::waitFor([&] { return preview.isDrawn(1); }, 60000));
    EXPECT_EQ(preview.pageRect(1).width(), preview.pageRect(1).height());

    // Written by hand without a cross-reference table, as other readers take it too.
    const QString bare = test::writeFile(dir.filePath(QStringLiteral("bare.pdf")),
        "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
        "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
        "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Rotate 90 >> endobj\n"
        "trailer << /Root 1 0 R >>\n%%EOF\n");
    EXPECT_EQ(PdfPreview(bare).firstPageSize(), QSizeF(792, 612));
}

TEST_P(PdfPreviewTest, AFileThatDoesNotOpenGivesAnEmptyViewOfTheDefaultSize)
{
    const QString junk = test::writeJunkPdf(dir.filePath(QStringLiteral("junk.pdf")));
    PdfPreview preview(junk);
    EXPECT_FALSE(preview.firstPageSize());
    EXPECT_EQ(preview.pageCount(), 0);
    preview.show();

    QWidget parent;
    const PreviewContent content = makePreviewContent(QUrl::fromLocalFile(junk), 1.0, &parent);
    EXPECT_EQ(content.kind, PreviewContent::Kind::pdf);
    EXPECT_TRUE(qobject_cast<PdfPreview*>(content.view));
}

INSTANTIATE_TEST_SUITE_P(Roads, PdfPreviewTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("InAWorker") : std::string("InProcess");
                         });
