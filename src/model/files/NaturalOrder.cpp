#include "model/files/NaturalOrder.h"

#include <QCollator>

namespace qv {

namespace {

qsizetype runEnd(const QString& s, qsizetype from, bool digits)
{
    qsizetype i = from;
    while (i < s.size() && s.at(i).isDigit() == digits)
        ++i;
    return i;
}

} // namespace

int naturalCompare(const QString& a, const QString& b)
{
    thread_local QCollator collator = [] {
        QCollator c;
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();

    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        const bool digitA = a.at(i).isDigit();
        const bool digitB = b.at(j).isDigit();
        const qsizetype endA = runEnd(a, i, digitA);
        const qsizetype endB = runEnd(b, j, digitB);
        if (digitA && digitB) {
            // Compare by value without converting: strip leading zeros, then length, then digits.
            qsizetype za = i;
            while (za < endA - 1 && a.at(za) == QLatin1Char('0'))
                ++za;
            qsizetype zb = j;
            while (zb < endB - 1 && b.at(zb) == QLatin1Char('0'))
                ++zb;
            const qsizetype lenA = endA - za;
            const qsizetype lenB = endB - zb;
            if (lenA != lenB)
                return lenA < lenB ? -1 : 1;
            const int c = QStringView(a).sliced(za, lenA).compare(QStringView(b).sliced(zb, lenB));
            if (c != 0)
                return c < 0 ? -1 : 1;
        } else {
            const int c = collator.compare(QStringView(a).sliced(i, endA - i),
                                           QStringView(b).sliced(j, endB - j));
            if (c != 0)
                return c < 0 ? -1 : 1;
        }
        i = endA;
        j = endB;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

} // namespace qv
