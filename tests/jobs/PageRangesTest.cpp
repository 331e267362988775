#include "jobs/PageRanges.h"

#include <gtest/gtest.h>

using namespace qv;

namespace {

QList<PageRange> R(std::initializer_list<std::pair<int, int>> ranges)
{
    QList<PageRange> list;
    for (const auto& [lower, upper] : ranges)
        list.append({lower, upper});
    return list;
}

} // namespace

TEST(PageRanges, ParsesTypedTextPieceByPiece)
{
    const struct {
        const char16_t* text;
        QList<PageRange> expected;
    } cases[] = {
        {u"1-3, 4-6, 7", R({{1, 3}, {4, 6}, {7, 7}})},
        {u"7,1-2", R({{7, 7}, {1, 2}})},
        {u"2-2,2", R({{2, 2}, {2, 2}})},
        {u"1;3", R({{1, 1}, {3, 3}})},
        {u"3-", R({{3, openPageEnd}})},
        {u"-3", {}},
        {u"0", {}},
        {u"0-4", {}},
        {u"+0", {}},
        {u"+2", R({{2, 2}})},
        {u"007", R({{7, 7}})},
        // Typed backwards: the same pages in the usual order.
        {u"5-3", R({{3, 5}})},
        {u"5-3, 1", R({{3, 5}, {1, 1}})},
        {u"5-0", R({{5, 5}})},
        {u"3-x", R({{3, 3}})},
        {u"1-2-3", {}},
        {u"x", {}},
        {u"4 - 6", R({{4, 4}, {6, 6}})},
        {u"4\t-\t6", R({{4, 6}})},
        {u"4\u00A0-6", R({{4, 6}})},
        {u"4\n5", {}},
        {u"", {}},
        {u" ,;, ", {}},
        {u"4\u20136", {}}, // an en dash is not a range
        {u"9223372036854775808", {}},
        {u"9223372036854775808-9", {}},
        {u"2-99999999999999999999", R({{2, 2}})},
        // Pages beyond what a document can hold read as its end.
        {u"5000000000", R({{openPageEnd, openPageEnd}})},
    };
    for (const auto& c : cases) {
        const QString text = QString::fromUtf16(c.text);
        EXPECT_EQ(parsePageRanges(text), c.expected) << qPrintable(text);
    }
}
