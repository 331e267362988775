#include "model/files/NaturalOrder.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <algorithm>

using namespace qv;

TEST(NaturalOrder, SortsLikeAFileManager)
{
    QStringList names{"b.pdf", "a10.pdf", "a2.pdf", "A1.pdf", "file010.txt", "file9.txt", "x", "x1"};
    std::stable_sort(names.begin(), names.end(),
                     [](const QString& a, const QString& b) { return naturalCompare(a, b) < 0; });
    EXPECT_EQ(names, (QStringList{"A1.pdf", "a2.pdf", "a10.pdf", "b.pdf", "file9.txt", "file010.txt",
                                  "x", "x1"}));
    EXPECT_EQ(naturalCompare(QStringLiteral("Photo"), QStringLiteral("photo")), 0);
    EXPECT_EQ(naturalCompare(QStringLiteral("99999999999999999999"), QStringLiteral("100000000000000000000")), -1);
}
