#include "app/MemoryReturn.h"
#include "support/LinkingTables.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPixmapCache>

#include <malloc.h>

using namespace qv;

namespace {

qint64 heapInUse()
{
    const struct mallinfo2 info = ::mallinfo2();
    return qint64(info.arena) + qint64(info.hblkhd);
}

} // namespace

TEST(MemoryReturn, AtRestTheLinkingTablesGoUnlessAWindowShows)
{
    QLabel window(QStringLiteral("open"));
    window.show();
    ASSERT_TRUE(test::waitFor([&] { return window.isVisible(); }));
    const qint64 mapped = test::linkingTablesKilobytes(test::ownMappings());
    ASSERT_GT(mapped, 0);
    MemoryReturn::rest();
    EXPECT_GT(test::linkingTablesKilobytes(test::ownMappings()), mapped * 3 / 4);

    window.hide();
    MemoryReturn::rest();
    EXPECT_LT(test::linkingTablesKilobytes(test::ownMappings()), mapped / 2);
}

TEST(MemoryReturn, AClosedWindowsPicturesGoBackToTheSystem)
{
    MemoryReturn::install();
    const qint64 before = heapInUse();
    {
        // A window showing a large picture, as a preview does, and a cached pixmap.
        QLabel window;
        QImage picture(4000, 3000, QImage::Format_ARGB32);
        picture.fill(Qt::red);
        window.setPixmap(QPixmap::fromImage(picture));
        QPixmapCache::insert(QStringLiteral("memory-return-test"), QPixmap::fromImage(picture.scaled(1000, 750)));
        window.show();
        ASSERT_TRUE(test::waitFor([&] { return window.isVisible(); }));
        EXPECT_GT(heapInUse(), before + 40'000'000);
        window.hide();
    }
    QPixmap cached;
    // Given back some seconds after the window closed, without anyone asking.
    EXPECT_TRUE(test::waitFor([&] { return !QPixmapCache::find(QStringLiteral("memory-return-test"), &cached); },
                              MemoryReturn::delayMs * 10));
    EXPECT_LT(heapInUse(), before + 8'000'000);
}
