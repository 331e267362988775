#include "editors/media/TimeLabel.h"

#include <cmath>
#include <cstdint>

namespace qv {

QString timeLabel(double seconds, bool tenths)
{
    constexpr double ceiling = 1e9;
    double t = std::isfinite(seconds) && seconds > 0 ? std::min(seconds, ceiling) : 0.0;
    const std::int64_t whole = static_cast<std::int64_t>(t);
    const int tenth = std::clamp(static_cast<int>((t - static_cast<double>(whole)) * 10.0), 0, 9);
    QString text;
    if (whole < 3600) {
        text = QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
    } else {
        text = QStringLiteral("%1:%2:%3")
                   .arg(whole / 3600)
                   .arg((whole / 60) % 60, 2, 10, QLatin1Char('0'))
                   .arg(whole % 60, 2, 10, QLatin1Char('0'));
    }
    if (tenths)
        text += QLatin1Char('.') + QString::number(tenth);
    return text;
}

} // namespace qv
