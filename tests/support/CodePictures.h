#pragma once

#include <QImage>

#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>

#include <string>

namespace qv::test {

// A QR code of the payload, side pixels square, without a quiet zone.
inline QImage qrCodePicture(const std::string& payload, int side = 240) {
    const ZXing::BitMatrix bits = ZXing::MultiFormatWriter(ZXing::BarcodeFormat::QRCode)
                                      .setMargin(0)
                                      .encode(payload, side, side);
    const auto modules = ZXing::ToMatrix<uint8_t>(bits);
    QImage image(modules.width(), modules.height(), QImage::Format_Grayscale8);
    for (int y = 0; y < modules.height(); ++y) {
        for (int x = 0; x < modules.width(); ++x)
            image.scanLine(y)[x] = modules.get(x, y);
    }
    return image;
}

} // namespace qv::test
