#include "model/operations/HexColor.h"

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

bool isSpaceOrTab(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

int channel(double component)
{
    return static_cast<int>(std::lround(std::clamp(component, 0.0, 1.0) * 255.0));
}

} // namespace

QString defaultAccentHex()
{
    return QStringLiteral("#4C6EF5");
}

std::optional<QColor> colorFromHex(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isSpaceOrTab(text.at(begin)))
        ++begin;
    while (end > begin && isSpaceOrTab(text.at(end - 1)))
        --end;
    if (begin < end && text.at(begin) == QLatin1Char('#'))
        ++begin;
    if (end - begin != 6)
        return std::nullopt;
    // Digit by digit: number parsers would also take signs and "0x".
    int rgb = 0;
    for (qsizetype i = begin; i < end; ++i) {
        const int digit = hexDigit(text.at(i));
        if (digit < 0)
            return std::nullopt;
        rgb = rgb * 16 + digit;
    }
    return QColor::fromRgb((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

QString hexString(const QColor& color)
{
    if (!color.isValid())
        return defaultAccentHex();
    const QColor rgb = color.toRgb();
    return QStringLiteral("#%1%2%3")
        .arg(channel(rgb.redF()), 2, 16, QLatin1Char('0'))
        .arg(channel(rgb.greenF()), 2, 16, QLatin1Char('0'))
        .arg(channel(rgb.blueF()), 2, 16, QLatin1Char('0'))
        .toUpper();
}

} // namespace qv
