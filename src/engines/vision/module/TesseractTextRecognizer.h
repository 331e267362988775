#pragma once

#include "engines/vision/RecognizedLine.h"

#include <QImage>
#include <QString>

#include <functional>
#include <stop_token>

namespace qv {

// Tesseract with the English data. Each thread keeps one recogniser, made on its first use
// and reused for every later picture; the thread never starts OpenMP helpers of its own.
class TesseractTextRecognizer {
public:
    TesseractTextRecognizer() = delete;

    // A greyscale picture (Format_Grayscale8), with the folder holding eng.traineddata.
    static RecognizedLines recognize(const QImage& grey, double dpi, const QString& folder,
                                     const std::stop_token& stop, const std::function<void(double)>& progress);

    static int recognizersMade();
};

} // namespace qv
