#include "model/files/ByteCount.h"

#include <QLocale>

#include <array>
#include <cmath>

namespace qv {

namespace {

QString shortDecimal(double value, int decimals)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    QString text = locale.toString(value, 'f', decimals);
    const QString point = locale.decimalPoint();
    if (decimals > 0 && text.contains(point)) {
        while (text.endsWith(locale.zeroDigit()))
            text.chop(locale.zeroDigit().size());
        if (text.endsWith(point))
            text.chop(point.size());
    }
    return text;
}

} // namespace

QString formatByteCount(qint64 bytes)
{
    if (bytes <= 0)
        return QStringLiteral("Zero KB");
    if (bytes == 1)
        return QStringLiteral("1 byte");
    if (bytes < 1000)
        return QString::number(bytes) + QStringLiteral(" bytes");
    struct Unit {
        const char* name;
        double size;
        int decimals;
    };
    static constexpr std::array units{Unit{" KB", 1e3, 0}, Unit{" MB", 1e6, 1}, Unit{" GB", 1e9, 2},
                                      Unit{" TB", 1e12, 2}};
    const double value = double(bytes);
    for (std::size_t i = 0; i < units.size(); ++i) {
        const Unit& unit = units[i];
        const double factor = std::pow(10.0, unit.decimals);
        const double rounded = std::round(value / unit.size * factor) / factor;
        // 999,999 bytes round up to 1 MB, not 1000 KB.
        if (rounded < 1000 || i + 1 == units.size())
            return shortDecimal(rounded, unit.decimals) + QLatin1String(unit.name);
    }
    return QString();
}

} // namespace qv
