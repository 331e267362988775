#pragma once

#include <QRectF>
#include <QString>
#include <QStringList>

#include <optional>

namespace qv {

// Quarter turns clockwise, then the flips; "null" when nothing changes.
QString rotateFlipFilter(int degrees, bool flipHorizontally, bool flipVertically);

// Even width and height, whole-pixel origin.
QString cropFilter(const QRectF& rect);

// A speed change of the sound in stages atempo accepts (0.5 to 2 each).
QString atempoChain(double factor);

// Up to four decimals, no trailing zeros: 1.5, 2, 0.3333.
QString ffmpegNumber(double value);

struct LoudnessFilter {
    QString filter;
    // Pins the output rate, since loudnorm resamples internally.
    QStringList extraArguments;
    bool operator==(const LoudnessFilter&) const = default;
};

LoudnessFilter loudnormFilter(std::optional<int> sampleRate);

// Sound fades in seconds; "anull" when there is none. A duration of 0 or less (unknown) fades
// in only.
QString fadeFilter(double duration, double fadeIn, double fadeOut);

} // namespace qv
