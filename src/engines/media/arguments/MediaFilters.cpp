#include "engines/media/arguments/MediaFilters.h"

#include <algorithm>
#include <cmath>

namespace qv {

QString rotateFlipFilter(int degrees, bool flipHorizontally, bool flipVertically)
{
    QStringList parts;
    int r = degrees % 360;
    if (r < 0)
        r += 360;
    if (r == 90)
        parts << "transpose=1";
    else if (r == 180)
        parts << "hflip" << "vflip";
    else if (r == 270)
        parts << "transpose=2";
    if (flipHorizontally)
        parts << "hflip";
    if (flipVertically)
        parts << "vflip";
    return parts.isEmpty() ? QStringLiteral("null") : parts.join(QLatin1Char(','));
}

QString cropFilter(const QRectF& rect)
{
    auto even = [](double value) {
        const auto whole = static_cast<long long>(std::trunc(value));
        return whole - whole % 2;
    };
    const auto x = static_cast<long long>(std::trunc(rect.left()));
    const auto y = static_cast<long long>(std::trunc(rect.top()));
    return QStringLiteral("crop=%1:%2:%3:%4").arg(even(rect.width())).arg(even(rect.height())).arg(x).arg(y);
}

QString atempoChain(double factor)
{
    QStringList stages;
    double remaining = factor;
    while (remaining > 2.000000001) {
        stages << "atempo=2.0";
        remaining /= 2;
    }
    while (remaining < 0.499999999) {
        stages << "atempo=0.5";
        remaining *= 2;
    }
    stages << QStringLiteral("atempo=") + ffmpegNumber(remaining);
    return stages.join(QLatin1Char(','));
}

QString ffmpegNumber(double value)
{
    QString text = QString::number(value, 'f', 4);
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

LoudnessFilter loudnormFilter(std::optional<int> sampleRate)
{
    return {QStringLiteral("loudnorm=I=-16:TP=-1.5:LRA=11"),
            {QStringLiteral("-ar"), QString::number(sampleRate.value_or(48000))}};
}

QString fadeFilter(double duration, double fadeIn, double fadeOut)
{
    QStringList parts;
    if (fadeIn > 0)
        parts << QStringLiteral("afade=t=in:st=0:d=") + ffmpegNumber(fadeIn);
    // Without a known length there is no end to fade towards: a fade-out from 0 would silence
    // everything after it.
    if (fadeOut > 0 && duration > 0)
        parts << QStringLiteral("afade=t=out:st=") + ffmpegNumber(std::max(duration - fadeOut, 0.0))
                     + QStringLiteral(":d=") + ffmpegNumber(fadeOut);
    return parts.isEmpty() ? QStringLiteral("anull") : parts.join(QLatin1Char(','));
}

} // namespace qv
