#include "app/MemoryReturn.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QFile>
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

// Resident kilobytes of the files' first segments that are neither code nor data: the dynamic
// linker's tables.
qint64 linkingTablesKilobytes()
{
    QFile file(QStringLiteral("/proc/self/smaps"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    qint64 total = 0;
    bool tables = false;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 6 && fields[0].contains('-') && fields[1].size() == 4)
            tables = fields[1] == "r--p" && fields[2].toLongLong(nullptr, 16) == 0 && fields[5].startsWith('/');
        else if (tables && line.startsWith("Rss:"))
            total += fields.value(1).toLongLong();
    }
    return total;
}

} // namespace

TEST(MemoryReturn, AtRestTheLinkingTablesGoUnlessAWindowShows)
{
    QLabel window(QStringLiteral("open"));
    window.show();
    ASSERT_TRUE(test::waitFor([&] { return window.isVisible(); }));
    const qint64 mapped = linkingTablesKilobytes();
    ASSERT_GT(mapped, 0);
    MemoryReturn::rest();
    EXPECT_GT(linkingTablesKilobytes(), mapped * 3 / 4);

    window.hide();
    MemoryReturn::rest();
    EXPECT_LT(linkingTablesKilobytes(), mapped / 2);
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
