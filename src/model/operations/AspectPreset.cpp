#include "model/operations/AspectPreset.h"

namespace qv {

namespace {
constexpr std::array labels{"Free", "Original", "1:1", "4:5", "9:16", "16:9", "4:3"};
static_assert(labels.size() == EnumText<AspectPreset>::names.size());
} // namespace

QString label(AspectPreset preset)
{
    return QString::fromUtf8(labels[static_cast<std::size_t>(preset)]);
}

std::optional<AspectPreset> aspectPresetFromLabel(const QString& text)
{
    for (AspectPreset preset : allCases<AspectPreset>()) {
        if (label(preset) == text)
            return preset;
    }
    return std::nullopt;
}

std::optional<double> ratio(AspectPreset preset)
{
    switch (preset) {
    case AspectPreset::free:
    case AspectPreset::original: return std::nullopt;
    case AspectPreset::square: return 1.0;
    case AspectPreset::portrait: return 0.8;
    case AspectPreset::story: return 0.5625;
    case AspectPreset::wide: return 16.0 / 9.0;
    case AspectPreset::classic: return 4.0 / 3.0;
    }
    return std::nullopt;
}

} // namespace qv
