#include "engines/vision/BarcodeReader.h"

#include "engines/vision/VisionModule.h"

namespace qv {

DetectedCodes BarcodeReader::read(const QImage& grey)
{
    Q_ASSERT(grey.format() == QImage::Format_Grayscale8);
    if (grey.isNull())
        return {};
    return VisionModule::loaded().readBarcodes(grey);
}

} // namespace qv
