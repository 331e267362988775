#include "engines/image/DecodedImage.h"

#include "engines/image/foreign/ImageDecoder.h"
#include "engines/image/VipsPixels.h"
#include "engines/image/VipsRuntime.h"
#include "model/errors/EngineError.h"

#include <cstring>

namespace qv {

namespace {

EngineError noMemory(const QString& log = {})
{
    return EngineError(QStringLiteral("Not enough memory for this image"), log);
}

// Pixels are decoded when first read: a failure then is the file's when the decoder says so
// (a later frame may be damaged while the first still decodes) or it no longer decodes.
EngineError readFailure(const DecodedImage& image, const QString& log)
{
    const QString lower = log.toLower();
    if (lower.contains(QLatin1String("out of memory")) || lower.contains(QLatin1String("unable to allocate")))
        return noMemory(log);
    const QString source = ImageDecoder::sourceFile(image);
    if (ImageDecoder::isReadingFault(log) || (!source.isEmpty() && !ImageDecoder::decodes(source)))
        return EngineError(ImageDecoder::damagedMessage(), log);
    return noMemory(log);
}

// 8-bit sRGB with three or four bands: what QImage and the PDF writer take.
VipsRef eightBitRGB(VipsImage* in, QString* log)
{
    VipsRef image = vipsStep(in, [](VipsImage* i, VipsImage** o) {
        return vips_colourspace(i, o, VIPS_INTERPRETATION_sRGB, nullptr);
    }, log);
    image = vipsStep(image.get(), [](VipsImage* i, VipsImage** o) {
        return vips_cast(i, o, VIPS_FORMAT_UCHAR, nullptr);
    }, log);
    if (image && image->Bands > 4) {
        image = vipsStep(image.get(), [](VipsImage* i, VipsImage** o) {
            return vips_extract_band(i, o, 0, "n", 4, nullptr);
        }, log);
    }
    return image;
}

} // namespace

QString takeVipsError()
{
    const QString text = QString::fromUtf8(vips_error_buffer()).trimmed();
    vips_error_clear();
    return text;
}

void throwNoMemory(const QString& log)
{
    throw EngineError(QStringLiteral("Not enough memory for this image"), log);
}

void throwStepFailure(const QString& log)
{
    const QString lower = log.toLower();
    if (!lower.contains(QLatin1String("out of memory")) && !lower.contains(QLatin1String("unable to allocate"))
        && ImageDecoder::isReadingFault(log))
        throw EngineError(ImageDecoder::damagedMessage(), log);
    throwNoMemory(log);
}

DecodedImage decodedFromVips(VipsImage* owned, const ImageProperties& properties, double dpi)
{
    return DecodedImage(std::make_shared<DecodedImage::Pixels>(owned), properties, dpi);
}

VipsImage* vipsImage(const DecodedImage& image)
{
    return image.pixels() ? image.pixels()->image : nullptr;
}

DecodedImage::DecodedImage() = default;
DecodedImage::~DecodedImage() = default;
DecodedImage::DecodedImage(const DecodedImage&) = default;
DecodedImage& DecodedImage::operator=(const DecodedImage&) = default;
DecodedImage::DecodedImage(DecodedImage&&) noexcept = default;
DecodedImage& DecodedImage::operator=(DecodedImage&&) noexcept = default;

DecodedImage::DecodedImage(std::shared_ptr<Pixels> pixels, ImageProperties properties, double dpi)
    : m_pixels(std::move(pixels)), m_properties(std::move(properties)), m_dpi(dpi > 0 ? dpi : 72.0)
{
}

DecodedImage DecodedImage::fromPixels(const QImage& source, double dpi)
{
    if (source.isNull())
        return {};
    requireVips();
    if (!ensureVips())
        throw noMemory();
    const bool alpha = source.hasAlphaChannel();
    const QImage rgb = source.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    if (rgb.isNull())
        throw noMemory();
    const int bands = alpha ? 4 : 3;
    const size_t rowBytes = size_t(rgb.width()) * bands;
    QByteArray packed;
    packed.resize(qsizetype(rowBytes * size_t(rgb.height())));
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(packed.data() + rowBytes * size_t(y), rgb.constScanLine(y), rowBytes);
    VipsImage* image = vips_image_new_from_memory_copy(packed.constData(), size_t(packed.size()),
                                                       rgb.width(), rgb.height(), bands,
                                                       VIPS_FORMAT_UCHAR);
    if (!image)
        throw noMemory(takeVipsError());
    image->Type = VIPS_INTERPRETATION_sRGB;
    const double resolution = dpi > 0 ? dpi : 72.0;
    image->Xres = resolution / 25.4;
    image->Yres = resolution / 25.4;
    ImageProperties properties;
    properties.dpiWidth = resolution;
    properties.dpiHeight = resolution;
    return decodedFromVips(image, properties, resolution);
}

bool DecodedImage::isNull() const
{
    return !m_pixels;
}

int DecodedImage::width() const
{
    return m_pixels ? m_pixels->image->Xsize : 0;
}

int DecodedImage::height() const
{
    return m_pixels ? m_pixels->image->Ysize : 0;
}

bool DecodedImage::hasAlpha() const
{
    return m_pixels && vips_image_hasalpha(m_pixels->image);
}

double DecodedImage::dpi() const
{
    return m_dpi;
}

int DecodedImage::orientation() const
{
    return m_properties.orientation.value_or(1);
}

const ImageProperties& DecodedImage::properties() const
{
    return m_properties;
}

void DecodedImage::setProperties(const ImageProperties& properties)
{
    m_properties = properties;
}

QImage DecodedImage::toQImage() const
{
    if (!m_pixels)
        return {};
    QString log;
    const VipsRef image = eightBitRGB(m_pixels->image, &log);
    if (!image)
        throw readFailure(*this, log);
    const bool alpha = image->Bands == 4 || image->Bands == 2;
    VipsRef rgb;
    VipsImage* ready = image.get();
    if (image->Bands < 3) {
        // Grey with or without alpha becomes RGB(A).
        rgb = vipsStep(ready, [](VipsImage* i, VipsImage** o) {
            return vips_colourspace(i, o, VIPS_INTERPRETATION_sRGB, "source_space",
                                    VIPS_INTERPRETATION_B_W, nullptr);
        }, &log);
        if (!rgb)
            throw noMemory(log);
        ready = rgb.get();
    }
    const int bands = alpha ? 4 : 3;
    if (ready->Bands != bands)
        throw noMemory(QStringLiteral("unexpected band count %1").arg(ready->Bands));
    QImage result(ready->Xsize, ready->Ysize, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    if (result.isNull())
        throw noMemory();
    size_t length = 0;
    const VipsErrorWatch lostFailure;
    void* memory = vips_image_write_to_memory(ready, &length);
    if (memory && lostFailure.failed()) {
        g_free(memory);
        memory = nullptr;
    }
    if (!memory)
        throw readFailure(*this, takeVipsError());
    const size_t rowBytes = size_t(ready->Xsize) * bands;
    if (length < rowBytes * size_t(ready->Ysize)) {
        g_free(memory);
        throw noMemory();
    }
    for (int y = 0; y < ready->Ysize; ++y)
        std::memcpy(result.scanLine(y), static_cast<const uchar*>(memory) + rowBytes * size_t(y), rowBytes);
    g_free(memory);
    result.setDotsPerMeterX(qRound(m_dpi / 0.0254));
    result.setDotsPerMeterY(qRound(m_dpi / 0.0254));
    return result;
}

DecodedImage DecodedImage::materialized() const
{
    if (!m_pixels)
        return {};
    const VipsErrorWatch lostFailure;
    VipsImage* copy = vips_image_copy_memory(m_pixels->image);
    if (copy && lostFailure.failed()) {
        g_object_unref(copy);
        copy = nullptr;
    }
    if (!copy)
        throw readFailure(*this, takeVipsError());
    return DecodedImage(std::make_shared<Pixels>(copy), m_properties, m_dpi);
}

} // namespace qv
