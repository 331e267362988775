#pragma once

#include "model/wheel/WheelEntry.h"

namespace qv {

// One segment as drawn: an entry, or the More segment that opens the overflow ring.
struct WheelSegmentModel {
    // format: a plain conversion drawn by its title alone; tool: title and symbol; more.
    enum class Style { format, tool, more };

    QString id;
    QString title;
    std::optional<QString> symbol;
    Style style = Style::tool;
    std::optional<WheelEntry> entry; // absent for the More segment

    bool isMore() const { return style == Style::more; }

    static WheelSegmentModel forEntry(const WheelEntry& entry);
    static WheelSegmentModel more();
};

template <>
struct EnumText<WheelSegmentModel::Style> {
    static constexpr std::array names{"format", "tool", "more"};
};

inline size_t qHash(WheelSegmentModel::Style style, size_t seed = 0) noexcept
{
    return ::qHash(static_cast<int>(style), seed);
}

} // namespace qv
