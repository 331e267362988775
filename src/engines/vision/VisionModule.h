#pragma once

#include "engines/vision/DetectedCode.h"
#include "engines/vision/RecognizedLine.h"

#include <QImage>
#include <QString>

#include <functional>
#include <optional>
#include <stop_token>

namespace qv {

// What reads pictures' contents with Tesseract, ZXing and OpenCV, in a module of its own
// (quorvenda-vision.so): those libraries and the hundred they pull in are loaded only by a
// process that reads a text, a code or a subject, so every other worker, the application and
// the driver start without them. Functions throw EngineError and CancellationError as the
// callers in VisionEngine, TextRecognizer, BarcodeReader and ModelSubjectMasker describe.
class VisionModule {
public:
    virtual ~VisionModule() = default;

    virtual RecognizedLines recognizeText(const QImage& grey, double dpi, const QString& dataFolder,
                                          const std::stop_token& stop, const std::function<void(double)>& progress) = 0;
    virtual int recognizersMade() = 0;
    virtual DetectedCodes readBarcodes(const QImage& grey) = 0;
    virtual QImage subjectMask(const QImage& rgb32, const QString& modelPath, int threads,
                               const std::stop_token& stop) = 0;
    virtual QImage blurred(const QImage& opaque, double radius) = 0;

    // The module, loaded on the first call; throws EngineError when it cannot be.
    static VisionModule& loaded();
    // Whether the module is installed, without loading it.
    static bool installed();
    // Whether this process has loaded it.
    static bool isLoaded();

    // The module's entry point is `quorvenda_vision_module(interfaceVersion)`.
    static constexpr int interfaceVersion = 1;
};

} // namespace qv
