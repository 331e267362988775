#include "engines/image/foreign/ImageOutput.h"

namespace qv {

static_assert(EnumText<ImageOutput>::names.size() == 14);

std::optional<ImageOutput> imageOutputFromString(const QString& text)
{
    return enumFromString<ImageOutput>(text);
}

QString imageOutputTypeIdentifier(ImageOutput output)
{
    switch (output) {
    case ImageOutput::jpg: return QStringLiteral("public.jpeg");
    case ImageOutput::png: return QStringLiteral("public.png");
    case ImageOutput::heic: return QStringLiteral("public.heic");
    case ImageOutput::webp: return QStringLiteral("org.webmproject.webp");
    case ImageOutput::avif: return QStringLiteral("public.avif");
    case ImageOutput::tiff: return QStringLiteral("public.tiff");
    case ImageOutput::gif: return QStringLiteral("com.compuserve.gif");
    case ImageOutput::bmp: return QStringLiteral("com.microsoft.bmp");
    case ImageOutput::ico: return QStringLiteral("com.microsoft.ico");
    case ImageOutput::icns: return QStringLiteral("com.apple.icns");
    case ImageOutput::jp2: return QStringLiteral("public.jpeg-2000");
    case ImageOutput::psd: return QStringLiteral("com.adobe.photoshop-image");
    case ImageOutput::tga: return QStringLiteral("com.truevision.tga-image");
    case ImageOutput::pdf: return QStringLiteral("com.adobe.pdf");
    }
    return {};
}

bool isLossy(ImageOutput output)
{
    switch (output) {
    case ImageOutput::jpg:
    case ImageOutput::heic:
    case ImageOutput::webp:
    case ImageOutput::avif:
    case ImageOutput::jp2: return true;
    default: return false;
    }
}

bool lacksAlpha(ImageOutput output)
{
    return output == ImageOutput::jpg || output == ImageOutput::bmp;
}

} // namespace qv
