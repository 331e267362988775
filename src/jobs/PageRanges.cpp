#include "jobs/PageRanges.h"

#include <algorithm>

namespace qv {

namespace {

bool isTrimmedSpace(QChar c)
{
    // Tabs and the Unicode space separators, but not line breaks.
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

QStringView trimmed(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isTrimmedSpace(text[begin]))
        ++begin;
    while (end > begin && isTrimmedSpace(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

// An optional sign and ASCII digits that fit 64 bits, nothing else.
std::optional<qint64> readWholeNumber(QStringView text)
{
    qsizetype i = 0;
    bool negative = false;
    if (!text.isEmpty() && (text[0] == QLatin1Char('+') || text[0] == QLatin1Char('-'))) {
        negative = text[0] == QLatin1Char('-');
        i = 1;
    }
    if (i == text.size())
        return std::nullopt;
    // Accumulate towards the negative side, which holds one more value than the positive.
    constexpr qint64 minimum = std::numeric_limits<qint64>::min();
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c - u'0';
        if (value < (minimum + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == minimum)
            return std::nullopt;
        value = -value;
    }
    return value;
}

int toPage(qint64 value)
{
    return int(std::min<qint64>(value, openPageEnd));
}

} // namespace

std::optional<PageRange> parsePageRange(const QString& piece)
{
    const QList<QStringView> parts = QStringView(piece).split(QLatin1Char('-'));
    if (parts.size() == 1) {
        const auto page = readWholeNumber(trimmed(parts[0]));
        if (!page || *page < 1)
            return std::nullopt;
        return PageRange{toPage(*page), toPage(*page)};
    }
    if (parts.size() != 2)
        return std::nullopt;
    const auto lower = readWholeNumber(trimmed(parts[0]));
    if (!lower || *lower < 1)
        return std::nullopt;
    const QStringView second = trimmed(parts[1]);
    if (second.isEmpty())
        return PageRange{toPage(*lower), openPageEnd};
    const qint64 upper = readWholeNumber(second).value_or(*lower);
    if (upper < *lower) {
        // Typed backwards: the same pages, counted the usual way.
        if (upper < 1)
            return PageRange{toPage(*lower), toPage(*lower)};
        return PageRange{toPage(upper), toPage(*lower)};
    }
    return PageRange{toPage(*lower), toPage(upper)};
}

QList<PageRange> parsePageRanges(const QString& text)
{
    QList<PageRange> ranges;
    const QList<QStringView> pieces = QStringView(text).split(
        u',', Qt::SkipEmptyParts);
    for (QStringView commaPiece : pieces) {
        for (QStringView semicolonPiece : commaPiece.split(u';', Qt::SkipEmptyParts)) {
            for (QStringView piece : semicolonPiece.split(u' ', Qt::SkipEmptyParts)) {
                if (const auto range = parsePageRange(piece.toString()))
                    ranges.append(*range);
            }
        }
    }
    return ranges;
}

} // namespace qv
