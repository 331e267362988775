#include "engines/vision/module/LoadedVisionModule.h"

#include "engines/vision/module/OnnxSubjectMasker.h"
#include "engines/vision/module/OpenCvBlur.h"
#include "engines/vision/module/TesseractTextRecognizer.h"
#include "engines/vision/module/ZXingBarcodeReader.h"

namespace qv {

RecognizedLines LoadedVisionModule::recognizeText(const QImage& grey, double dpi, const QString& dataFolder,
                                                  const std::stop_token& stop,
                                                  const std::function<void(double)>& progress)
{
    return TesseractTextRecognizer::recognize(grey, dpi, dataFolder, stop, progress);
}

int LoadedVisionModule::recognizersMade()
{
    return TesseractTextRecognizer::recognizersMade();
}

DetectedCodes LoadedVisionModule::readBarcodes(const QImage& grey)
{
    return ZXingBarcodeReader::read(grey);
}

QImage LoadedVisionModule::subjectMask(const QImage& rgb32, const QString& modelPath, int threads,
                                       const std::stop_token& stop)
{
    return OnnxSubjectMasker::subjectMask(rgb32, modelPath, threads, stop);
}

QImage LoadedVisionModule::blurred(const QImage& opaque, double radius)
{
    return OpenCvBlur::blurred(opaque, radius);
}

} // namespace qv

extern "C" __attribute__((visibility("default"))) qv::VisionModule* quorvenda_vision_module(int version)
{
    if (version != qv::VisionModule::interfaceVersion)
        return nullptr;
    static qv::LoadedVisionModule module;
    return &module;
}
