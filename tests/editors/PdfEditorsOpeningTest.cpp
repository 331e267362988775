#include "catalogue/isolated/CatalogueWorkers.h"
#include "catalogue/isolated/IsolatedReading.h"
#include "editors/BusyIndicator.h"
#include "editors/EditorActivity.h"
#include "editors/pages/PagesEditor.h"
#include "editors/pages/PagesModel.h"
#include "editors/redact/RedactEditor.h"
#include "editors/redact/RedactPageView.h"
#include "jobs/Toasts.h"
#include "jobs/WorkerPool.h"
#include "model/files/FileInfo.h"
#include "platform/ui/EditorWindow.h"
#include "support/PdfFixtures.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QPointer>
#include <QTemporaryDir>

using namespace qv;

namespace {

struct ToastLog : ToastPresenter {
    QStringList texts;
    void show(const Toast& toast) override { texts.append(toast.text); }
};

// The editors open alike whether the PDF is read here or in a worker, as the application does.
class PdfEditorsOpeningTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::waitFor([] { return EditorActivity::count() == 0; }, 60000));
        if (GetParam()) {
            qputenv("QUORVENDA_WORKER", QV_BUILD_DIR "/quorvenda-worker");
            IsolatedReading::setEnabled(true);
        }
        setToastPresenter(&toasts);
        before = openEditorWindows().size();
    }
    void TearDown() override
    {
        for (EditorWindow* window : openEditorWindows())
            window->close();
        EXPECT_TRUE(test::waitFor([] { return EditorActivity::count() == 0 && openEditorWindows().isEmpty(); }, 60000));
        setToastPresenter(nullptr);
        IsolatedReading::setEnabled(false);
    }

    FileInfo pdf(const QString& name, const QStringList& texts)
    {
        return fileInfoForURL(QUrl::fromLocalFile(test::writeTextPdf(dir.filePath(name), texts)));
    }
    FileInfo junk()
    {
        return fileInfoForURL(QUrl::fromLocalFile(test::writeJunkPdf(dir.filePath(QStringLiteral("junk.pdf")))));
    }
    // The window the opening ended in, once everything in it is drawn; nothing when it ended
    // without one.
    EditorWindow* settledWindow()
    {
        EXPECT_TRUE(test::waitFor([&] {
            return EditorActivity::count() == 0 && (openEditorWindows().size() > before || !toasts.texts.isEmpty());
        }, 60000));
        return openEditorWindows().size() > before ? openEditorWindows().last() : nullptr;
    }

    QTemporaryDir dir;
    ToastLog toasts;
    qsizetype before = 0;
};

} // namespace

TEST_P(PdfEditorsOpeningTest, ThePagesEditorShowsEveryPagesThumbnail)
{
    PagesEditor::open(pdf(QStringLiteral("four.pdf"), {"1", "2", "3", "4"}), true, QPointF(200, 200), {});
    EditorWindow* window = settledWindow();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Extract Pages from four.pdf"));
    const PagesModel* model = window->findChild<PagesModel*>();
    ASSERT_TRUE(model);
    ASSERT_EQ(model->pageCount(), 4);
    for (const PagesModel::Page& page : model->pages())
        EXPECT_EQ(page.thumbnail.size(), QSize(216, 280)) << page.index;
    // The sign that pages are being read is gone once they came.
    const auto* busy = window->findChild<BusyIndicator*>();
    ASSERT_TRUE(busy);
    EXPECT_FALSE(busy->isBusy());
    EXPECT_FALSE(busy->isVisibleTo(window));
    EXPECT_TRUE(toasts.texts.isEmpty());
    if (GetParam()) {
        EXPECT_GT(catalogueWorkers().startedCount(), 0);
    }
}

TEST_P(PdfEditorsOpeningTest, TheRedactEditorLaysOutEveryPage)
{
    RedactEditor::open(pdf(QStringLiteral("two.pdf"), {"1", "2"}), QPointF(200, 200), {});
    EditorWindow* window = settledWindow();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Redact two.pdf"));
    const RedactPageView* pages = window->findChild<RedactPageView*>();
    ASSERT_TRUE(pages);
    const auto* busy = window->findChild<BusyIndicator*>();
    ASSERT_TRUE(busy);
    EXPECT_FALSE(busy->isVisibleTo(window));
    const QRectF second = pages->pageRect(1);
    EXPECT_NEAR(second.width() / second.height(), 612.0 / 792.0, 0.01);
}

TEST_P(PdfEditorsOpeningTest, ADamagedPdfGivesTheToastAndNoWindow)
{
    PagesEditor::open(junk(), false, QPointF(200, 200), {});
    EXPECT_FALSE(settledWindow());
    RedactEditor::open(junk(), QPointF(200, 200), {});
    ASSERT_TRUE(test::waitFor([&] { return toasts.texts.size() == 2 && EditorActivity::count() == 0; }, 60000));
    EXPECT_EQ(toasts.texts, (QStringList{QStringLiteral("Couldn't open junk.pdf"), QStringLiteral("Couldn't open junk.pdf")}));
    EXPECT_EQ(openEditorWindows().size(), before);
}

TEST_P(PdfEditorsOpeningTest, APdfThatWantsAPasswordGivesTheToast)
{
    const FileInfo plain = pdf(QStringLiteral("plain.pdf"), {"Secret"});
    const QString locked = test::lockedCopy(plain.path(), dir.filePath(QStringLiteral("locked.pdf")), QStringLiteral("pw"));
    PagesEditor::open(fileInfoForURL(QUrl::fromLocalFile(locked)), false, QPointF(200, 200), {});
    EXPECT_FALSE(settledWindow());
    EXPECT_EQ(toasts.texts, QStringList{QStringLiteral("Couldn't open locked.pdf")});
}

INSTANTIATE_TEST_SUITE_P(Roads, PdfEditorsOpeningTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("InAWorker") : std::string("InProcess");
                         });
