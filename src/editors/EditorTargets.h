#pragma once

#include <QPointF>
#include <QRectF>
#include <QString>

#include <optional>

namespace qv {

// Named places inside an editor's widget that a driver can click or drag, such as a handle or
// the point of a time on a strip. Widgets that have some implement this next to QWidget.
class EditorTargets {
public:
    virtual ~EditorTargets() = default;

    // The target's rectangle in the widget's coordinates; none for a name it does not know.
    virtual std::optional<QRectF> targetRect(const QString& name) const = 0;
    // Where a drag's destination is taken from the pointer when this target is dragged: a
    // handle that sits beside the edge it moves lands the edge, not the handle, on the point.
    virtual QPointF dragOffset(const QString& /*name*/) const { return {}; }
};

} // namespace qv
