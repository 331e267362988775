#include "model/files/ByteCount.h"

#include <gtest/gtest.h>

#include <QLocale>

using namespace qv;

TEST(ByteCount, ReadsAsTheFileManagerWritesIt)
{
    EXPECT_EQ(formatByteCount(0), "Zero KB");
    EXPECT_EQ(formatByteCount(-5), "Zero KB");
    EXPECT_EQ(formatByteCount(1), "1 byte");
    EXPECT_EQ(formatByteCount(2), "2 bytes");
    EXPECT_EQ(formatByteCount(999), "999 bytes");
    EXPECT_EQ(formatByteCount(1000), "1 KB");
    EXPECT_EQ(formatByteCount(12'345), "12 KB");
    EXPECT_EQ(formatByteCount(999'499), "999 KB");
    // Rounding up into the next unit reads in that unit, never "1000 KB".
    EXPECT_EQ(formatByteCount(999'999), "1 MB");
    EXPECT_EQ(formatByteCount(3'460'000), "3.5 MB");
    EXPECT_EQ(formatByteCount(3'000'000), "3 MB");
    EXPECT_EQ(formatByteCount(999'960'000), "1 GB");
    EXPECT_EQ(formatByteCount(2'000'000'000), "2 GB");
    EXPECT_EQ(formatByteCount(2'345'678'901), "2.35 GB");
    EXPECT_EQ(formatByteCount(2'500'000'000), "2.5 GB");
    EXPECT_EQ(formatByteCount(1'250'000'000'000), "1.25 TB");
    EXPECT_EQ(formatByteCount(4'000'000'000'000'000), "4000 TB");
}

TEST(ByteCount, UsesTheLocaleDecimalSeparator)
{
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(formatByteCount(3'460'000), "3,5 MB");
    EXPECT_EQ(formatByteCount(2'345'678'901), "2,35 GB");
    EXPECT_EQ(formatByteCount(2'000'000'000), "2 GB");
    EXPECT_EQ(formatByteCount(12'345), "12 KB");
    QLocale::setDefault(before);
    EXPECT_EQ(formatByteCount(3'460'000), "3.5 MB");
}
