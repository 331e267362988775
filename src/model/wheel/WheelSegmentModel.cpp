#include "model/wheel/WheelSegmentModel.h"

namespace qv {

WheelSegmentModel WheelSegmentModel::forEntry(const WheelEntry& entry)
{
    // Only a convert entry without a symbol is a bare format; every other entry shows one.
    const Style style = entry.wheel == WheelKind::convert && !entry.symbol ? Style::format
                                                                            : Style::tool;
    return WheelSegmentModel{entry.id, entry.title, entry.symbol, style, entry};
}

WheelSegmentModel WheelSegmentModel::more()
{
    return WheelSegmentModel{QStringLiteral("more"), QStringLiteral("MORE"),
                             QStringLiteral("ellipsis.circle"), Style::more, std::nullopt};
}

} // namespace qv
