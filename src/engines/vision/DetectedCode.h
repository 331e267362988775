#pragma once

#include <QList>
#include <QRectF>
#include <QString>

namespace qv {

// One barcode or QR code read from a picture: its payload, the symbology's name ("QRCode",
// "EAN-13", ...) and the box around it in the same normalised lower-left coordinates as
// RecognizedLine.
struct DetectedCode {
    QString payload;
    QString format;
    QRectF box;

    bool operator==(const DetectedCode&) const = default;
};

using DetectedCodes = QList<DetectedCode>;

} // namespace qv
