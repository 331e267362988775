#pragma once

#include "model/EnumText.h"

#include <QList>
#include <QPointF>
#include <QString>

#include <optional>

namespace qv {

// One drawing of the annotate editor, in image coordinates.
struct Annotation {
    enum class Kind { pen, arrow, rectangle, ellipse, text, highlight };

    Kind kind = Kind::pen;
    QList<QPointF> points;
    QString colorHex;
    double lineWidth = 0.0;
    std::optional<QString> text;
    std::optional<double> fontSize;

    bool operator==(const Annotation&) const = default;
};

template <>
struct EnumText<Annotation::Kind> {
    static constexpr std::array names{"pen", "arrow", "rectangle", "ellipse", "text", "highlight"};
};

} // namespace qv
