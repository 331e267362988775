#include "editors/EditorActivity.h"
#include "editors/PageThumbnailLoader.h"
#include "support/PdfFixtures.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

using namespace qv;

TEST(PageThumbnailLoader, PagesAskedForFirstArriveFirstAndFitTheBox)
{
    // Work that earlier tests left running ends first, so the count is this loader's alone.
    ASSERT_TRUE(test::waitFor([] { return EditorActivity::count() == 0; }));
    QTemporaryDir dir;
    const QString path = test::writeTextPdf(dir.filePath("six.pdf"), {"1", "2", "3", "4", "5", "6"});
    PageThumbnailLoader loader(path, std::nullopt, 6, 1);
    QList<int> arrived;
    QList<QSize> sizes;
    QObject::connect(&loader, &PageThumbnailLoader::thumbnailReady, [&](int index, const QImage& image) {
        arrived.append(index);
        sizes.append(image.size());
    });
    loader.prioritise({4, 2});
    loader.start();
    EXPECT_EQ(EditorActivity::count(), 1);
    ASSERT_TRUE(test::waitFor([&] { return loader.isDone(); }));
    EXPECT_EQ(arrived, (QList<int>{4, 2, 0, 1, 3, 5}));
    EXPECT_EQ(sizes.first(), QSize(216, 280)); // 612 x 792 points fitted into 220 x 280
    EXPECT_EQ(EditorActivity::count(), 0);
}

TEST(PageThumbnailLoader, ClosingStopsTheRendering)
{
    QTemporaryDir dir;
    QStringList texts;
    for (int i = 0; i < 60; ++i)
        texts.append(QString::number(i));
    const QString path = test::writeTextPdf(dir.filePath("long.pdf"), texts);
    int arrived = 0;
    {
        auto* loader = new PageThumbnailLoader(path, std::nullopt, 60, 1);
        QObject::connect(loader, &PageThumbnailLoader::thumbnailReady, [&] { ++arrived; });
        loader->start();
        ASSERT_TRUE(test::waitFor([&] { return arrived > 0; }));
        delete loader;
    }
    EXPECT_EQ(EditorActivity::count(), 0);
    const int atClose = arrived;
    QCoreApplication::processEvents();
    EXPECT_EQ(arrived, atClose);
    EXPECT_LT(arrived, 60);
}
