#include "engines/vision/module/OpenCvBlur.h"

#include "model/errors/EngineError.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>

namespace qv {

QImage OpenCvBlur::blurred(const QImage& opaque, double radius)
{
    QImage blurred(opaque.size(), QImage::Format_RGB32);
    if (blurred.isNull())
        throw EngineError(QStringLiteral("Not enough memory"), QStringLiteral("No room for a copy of the picture"));
    try {
        const cv::Mat source(opaque.height(), opaque.width(), CV_8UC4, const_cast<uchar*>(opaque.constBits()),
                             size_t(opaque.bytesPerLine()));
        cv::Mat target(blurred.height(), blurred.width(), CV_8UC4, blurred.bits(), size_t(blurred.bytesPerLine()));
        // A wide blur is as good on a smaller copy and many times faster.
        const int factor = std::max(1, int(radius / 8));
        if (factor == 1) {
            cv::GaussianBlur(source, target, cv::Size(0, 0), radius, radius, cv::BORDER_REPLICATE);
        } else {
            const cv::Size smallSize((source.cols + factor - 1) / factor, (source.rows + factor - 1) / factor);
            cv::Mat small;
            cv::resize(source, small, smallSize, 0, 0, cv::INTER_AREA);
            cv::GaussianBlur(small, small, cv::Size(0, 0), radius / factor, radius / factor, cv::BORDER_REPLICATE);
            cv::resize(small, target, target.size(), 0, 0, cv::INTER_LINEAR);
        }
        Q_ASSERT(target.data == blurred.bits());
    } catch (const cv::Exception& error) {
        throw EngineError(QStringLiteral("Couldn't render the image"), QString::fromStdString(error.what()));
    }
    return blurred;
}

} // namespace qv
