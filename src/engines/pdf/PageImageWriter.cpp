#include "engines/pdf/PageImageWriter.h"

#include "model/EngineError.h"
#include "platform/FileContents.h"

#include <QBuffer>
#include <QImageWriter>

#include <cmath>

namespace qv {

void writePageImage(const QImage& page, const QString& path, ImageOutput output, double dpi,
                    std::optional<double> quality)
{
    const QString name = toString(output).toUpper();
    const QByteArray format = output == ImageOutput::jpg ? QByteArray("jpeg") : toString(output).toLatin1();
    if (!QImageWriter::supportedImageFormats().contains(format))
        throw EngineError(QStringLiteral("This Mac can't write ") + name + QStringLiteral(" images"));

    QImage image = page;
    const int dotsPerMeter = int(std::lround(dpi / 0.0254));
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);

    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (quality)
        writer.setQuality(int(std::lround(std::clamp(*quality, 0.0, 1.0) * 100.0)));
    if (!writer.write(image))
        throw EngineError(QStringLiteral("Couldn't write the ") + name + QStringLiteral(" file"),
                          writer.errorString());
    if (const auto error = FileContents::createNew(path, bytes))
        throw EngineError(QStringLiteral("Couldn't write the ") + name + QStringLiteral(" file"),
                          error->localizedDescription());
}

} // namespace qv
