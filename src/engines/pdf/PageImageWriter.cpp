#include "engines/pdf/PageImageWriter.h"

#include "engines/image/DecodedImage.h"
#include "engines/image/foreign/ImageWriter.h"
#include "engines/image/ImageEngine.h"

namespace qv {

void writePageImage(const QImage& page, const QString& path, ImageOutput output, double dpi,
                    std::optional<double> quality, std::stop_token stop)
{
    ImageProperties properties;
    properties.dpiWidth = dpi;
    properties.dpiHeight = dpi;
    double q = quality.value_or(1.0);
    if (output == ImageOutput::jpg)
        q = ImageEngine::calibratedJPEGQuality(q);
    ImageWork work;
    work.stop = stop;
    ImageWriter::write(DecodedImage::fromPixels(page, dpi), output, path, properties, q, work);
}

} // namespace qv
