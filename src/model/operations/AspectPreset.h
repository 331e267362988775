#pragma once

#include "model/EnumText.h"

#include <optional>

namespace qv {

// The aspect choices of the crop editors, in menu order.
enum class AspectPreset { free, original, square, portrait, story, wide, classic };

template <>
struct EnumText<AspectPreset> {
    static constexpr std::array names{"free", "original", "square", "portrait", "story", "wide",
                                      "classic"};
};

// The text shown for a preset ("Free", "1:1", ...); it also identifies the preset.
QString label(AspectPreset preset);
std::optional<AspectPreset> aspectPresetFromLabel(const QString& label);

// Width divided by height; none for free and original, whose ratio is not fixed in advance.
std::optional<double> ratio(AspectPreset preset);

} // namespace qv
