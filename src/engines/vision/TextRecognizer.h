#pragma once

#include "engines/vision/RecognizedLine.h"

#include <QImage>
#include <QString>

#include <functional>
#include <optional>
#include <stop_token>

namespace qv {

// Tesseract with the English data. Each thread keeps one recogniser, made on its first use
// and reused for every later picture; the thread never starts OpenMP helpers of its own.
class TextRecognizer {
public:
    TextRecognizer() = delete;

    // A greyscale picture (Format_Grayscale8) no larger than maxSide on either side.
    static RecognizedLines recognize(const QImage& grey, double dpi, const std::stop_token& stop,
                                     const std::function<void(double)>& progress);

    static std::optional<QString> dataFolder();

    // How many recognisers have been made in this process so far.
    static int recognizersMade();

    // Tesseract keeps coordinates in 16 bits.
    static constexpr int maxSide = 32767;
};

} // namespace qv
