#include "wheel/WheelPalette.h"

namespace qv {

namespace {

struct Tone {
    double saturation;
    double highlightedSaturation;
    double brightness;
    double highlightedBrightness;
};

double baseHue(WheelKind kind)
{
    switch (kind) {
    case WheelKind::convert: return 214;
    case WheelKind::tools: return 166;
    case WheelKind::actions: return 250;
    }
    return 214;
}

Tone tone(const WheelPalette& palette)
{
    switch (palette.kind) {
    case WheelKind::convert:
        return palette.isDark ? Tone{0.62, 0.77, 0.68, 0.76} : Tone{0.30, 0.45, 1.00, 0.98};
    case WheelKind::tools:
        return palette.isDark ? Tone{0.50, 0.65, 0.48, 0.56} : Tone{0.25, 0.40, 0.95, 0.93};
    case WheelKind::actions:
        return palette.isDark ? Tone{0.30, 0.45, 0.52, 0.60} : Tone{0.13, 0.28, 0.97, 0.95};
    }
    return {0.30, 0.45, 1.00, 0.98};
}

} // namespace

QColor segmentColor(int index, int count, bool highlighted, const WheelPalette& palette)
{
    const double offset = count > 1 ? index * 16.0 / (count - 1) - 8 : 0;
    double hue = (baseHue(palette.kind) + offset) / 360;
    if (hue < 0)
        hue += 1;
    const Tone t = tone(palette);
    return QColor::fromHsvF(static_cast<float>(hue),
                            static_cast<float>(highlighted ? t.highlightedSaturation : t.saturation),
                            static_cast<float>(highlighted ? t.highlightedBrightness : t.brightness),
                            palette.isDark ? 0.92f : 0.96f);
}

} // namespace qv
