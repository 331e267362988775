#pragma once

#include <QList>
#include <QRectF>
#include <QString>

namespace qv {

// One line of recognised text. The box is in normalised picture coordinates, 0 to 1 on both
// axes with the origin at the lower left: box.y() is the line's bottom edge and
// box.y() + box.height() its top, so a larger y is higher up in the picture.
struct RecognizedLine {
    QString text;
    QRectF box;

    bool operator==(const RecognizedLine&) const = default;
};

using RecognizedLines = QList<RecognizedLine>;

} // namespace qv
