#pragma once

#include "engines/vision/DetectedCode.h"

#include <QImage>

namespace qv {

// ZXing over every symbology it knows. Stateless.
class ZXingBarcodeReader {
public:
    ZXingBarcodeReader() = delete;

    // Every readable code of a greyscale picture (Format_Grayscale8), in the order ZXing found
    // them, payloads as they stand.
    static DetectedCodes read(const QImage& grey);
};

} // namespace qv
