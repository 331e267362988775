#include "documents/writers/PackageImage.h"

#include "engines/image/foreign/ImageBytesInfo.h"
#include "engines/image/foreign/ImageToPng.h"

namespace qv {
namespace {

QString kindByContent(const QByteArray& bytes)
{
    if (bytes.startsWith("\x89PNG\r\n\x1a\n"))
        return QStringLiteral("png");
    if (bytes.startsWith("\xff\xd8\xff"))
        return QStringLiteral("jpeg");
    if (bytes.startsWith("GIF87a") || bytes.startsWith("GIF89a"))
        return QStringLiteral("gif");
    return {};
}

} // namespace

std::optional<PackageImage> PackageImage::fromBytes(const QByteArray& bytes)
{
    PackageImage image;
    image.ext = kindByContent(bytes);
    if (!image.ext.isEmpty()) {
        image.bytes = bytes;
    } else {
        const std::optional<QByteArray> png = imageToPng(bytes);
        if (!png)
            return std::nullopt;
        image.bytes = *png;
        image.ext = QStringLiteral("png");
    }
    // The header must open too: a PNG signature over garbage is no picture.
    const std::optional<ImageBytesInfo> info = imageBytesInfo(bytes);
    if (!info || info->pixelSize.isEmpty())
        return std::nullopt;
    image.pixelSize = info->pixelSize;
    image.dpi = info->dpi;
    return image;
}

} // namespace qv
