#pragma once

#include <QImage>

namespace qv {

// A Gaussian blur of a whole picture by OpenCV.
class OpenCvBlur {
public:
    OpenCvBlur() = delete;

    // An opaque RGB32 picture blurred with this radius, same size and format.
    static QImage blurred(const QImage& opaque, double radius);
};

} // namespace qv
