#include "engines/image/ImageEngine.h"

#include <QFile>

#include <algorithm>
#include <cmath>

namespace qv {

ImageOutput ImageEngine::sameFormatOutput(const FileInfo& file, const ImageWriteSupport& support)
{
    if (!file.format)
        return ImageOutput::png;
    const QString id = file.format->id;
    if (id == QLatin1String("heif"))
        return ImageOutput::heic;
    static const QList<ImageOutput> kept{ImageOutput::jpg, ImageOutput::png, ImageOutput::heic,
                                         ImageOutput::tiff, ImageOutput::gif, ImageOutput::bmp,
                                         ImageOutput::jp2, ImageOutput::psd, ImageOutput::tga,
                                         ImageOutput::avif, ImageOutput::webp};
    for (ImageOutput output : kept) {
        if (id == toString(output))
            return support.canWrite(output) ? output : ImageOutput::png;
    }
    return ImageOutput::png;
}

double ImageEngine::compressionQuality(ImageOutput output, QualityPreset preset,
                                       std::optional<int> sourceQuality)
{
    const bool heavy = output == ImageOutput::heic || output == ImageOutput::avif;
    double value = 0.72;
    switch (preset) {
    case QualityPreset::small: value = heavy ? 0.45 : 0.6; break;
    case QualityPreset::medium: value = heavy ? 0.58 : 0.72; break;
    case QualityPreset::high: value = heavy ? 0.72 : 0.82; break;
    }
    if (output == ImageOutput::jpg && sourceQuality)
        value = std::max(std::min(value, (*sourceQuality - 6) / 100.0), 0.3);
    return value;
}

std::optional<int> ImageEngine::estimatedJPEGQuality(const FileInfo& file)
{
    if (!file.url.isLocalFile())
        return std::nullopt;
    return estimatedJPEGQuality(file.url.toLocalFile());
}

std::optional<int> ImageEngine::estimatedJPEGQuality(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray soi = file.read(2);
    if (soi.size() != 2 || uchar(soi[0]) != 0xFF || uchar(soi[1]) != 0xD8)
        return std::nullopt;
    for (;;) {
        const QByteArray head = file.read(4);
        if (head.size() != 4 || uchar(head[0]) != 0xFF)
            return std::nullopt;
        const uchar marker = uchar(head[1]);
        const int length = (uchar(head[2]) << 8) | uchar(head[3]);
        if (length < 2 || marker == 0xDA)
            return std::nullopt;
        const QByteArray payload = file.read(length - 2);
        if (payload.size() != length - 2)
            return std::nullopt;
        if (marker == 0xDB) {
            if (const auto sum = luminanceTableSum(payload))
                return qualityFromTableSum(*sum);
        }
    }
}

std::optional<int> ImageEngine::luminanceTableSum(QByteArrayView payload)
{
    qsizetype p = 0;
    while (p < payload.size()) {
        const uchar header = uchar(payload[p]);
        const bool wide = (header >> 4) != 0;
        const int tableNumber = header & 0x0F;
        const qsizetype entryBytes = wide ? 128 : 64;
        if (p + 1 + entryBytes > payload.size())
            return std::nullopt;
        if (tableNumber == 0) {
            int sum = 0;
            for (int i = 0; i < 64; ++i) {
                sum += wide ? (uchar(payload[p + 1 + 2 * i]) << 8) | uchar(payload[p + 2 + 2 * i])
                            : uchar(payload[p + 1 + i]);
            }
            return sum;
        }
        p += entryBytes + 1;
    }
    return std::nullopt;
}

int ImageEngine::qualityFromTableSum(int sum)
{
    const double scale = double(sum) / standardLuminanceTableSum * 100.0;
    const double quality = scale <= 100.0 ? (200.0 - scale) / 2.0 : 5000.0 / scale;
    return std::clamp(int(std::round(quality)), 1, 100);
}

} // namespace qv
