#pragma once

#include "engines/vision/VisionModule.h"

namespace qv {

// The module's side of VisionModule: the calls handed to Tesseract, ZXing and OpenCV.
class LoadedVisionModule : public VisionModule {
public:
    RecognizedLines recognizeText(const QImage& grey, double dpi, const QString& dataFolder,
                                  const std::stop_token& stop, const std::function<void(double)>& progress) override;
    int recognizersMade() override;
    DetectedCodes readBarcodes(const QImage& grey) override;
    QImage subjectMask(const QImage& rgb32, const QString& modelPath, int threads,
                       const std::stop_token& stop) override;
    QImage blurred(const QImage& opaque, double radius) override;
};

} // namespace qv
