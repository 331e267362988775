#include "engines/vision/module/ZXingBarcodeReader.h"

#include <BarcodeFormat.h>
#include <ReadBarcode.h>

#include <algorithm>
#include <climits>

namespace qv {

DetectedCodes ZXingBarcodeReader::read(const QImage& grey)
{
    Q_ASSERT(grey.format() == QImage::Format_Grayscale8);
    DetectedCodes codes;
    if (grey.isNull())
        return codes;

    const ZXing::ImageView view(grey.constBits(), grey.width(), grey.height(), ZXing::ImageFormat::Lum,
                                int(grey.bytesPerLine()));
    ZXing::DecodeHints hints;
    hints.setTryHarder(true);
    hints.setTryRotate(true);
    hints.setTryDownscale(true);
    const double width = grey.width();
    const double height = grey.height();
    for (const ZXing::Result& result : ZXing::ReadBarcodes(view, hints)) {
        if (!result.isValid())
            continue;
        int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
        for (const ZXing::PointI& corner : result.position()) {
            left = std::min(left, corner.x);
            right = std::max(right, corner.x);
            top = std::min(top, corner.y);
            bottom = std::max(bottom, corner.y);
        }
        const std::string payload = result.text();
        codes.append({QString::fromUtf8(payload.data(), qsizetype(payload.size())),
                      QString::fromLatin1(ZXing::ToString(result.format())),
                      QRectF(left / width, 1.0 - bottom / height, (right - left) / width, (bottom - top) / height)});
    }
    return codes;
}

} // namespace qv
