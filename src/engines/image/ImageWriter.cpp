#include "engines/image/ImageWriter.h"

#include "engines/image/FFmpegImageWriter.h"
#include "engines/image/IconFileWriter.h"
#include "engines/image/ImageDecoder.h"
#include "engines/image/ImageEngine.h"
#include "engines/image/ImageMetadata.h"
#include "engines/image/VipsPixels.h"
#include "engines/image/VipsRuntime.h"
#include "model/CancellationError.h"
#include "model/EngineError.h"
#include "model/PlatformWording.h"
#include "model/Progress.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

struct EvalWatch {
    std::stop_token stop;
    Progress* progress = nullptr;
};

// libvips checks the kill flag of the image it is computing, which is the one the progress
// reports on; ours is upstream of it.
void onEval(VipsImage*, VipsProgress* progress, gpointer data)
{
    const auto* watch = static_cast<const EvalWatch*>(data);
    if (watch->stop.stop_requested() && progress && progress->im)
        vips_image_set_kill(progress->im, TRUE);
}

const char* saverName(ImageOutput output)
{
    switch (output) {
    case ImageOutput::jpg: return "jpegsave";
    case ImageOutput::png: return "pngsave";
    case ImageOutput::heic:
    case ImageOutput::avif: return "heifsave";
    case ImageOutput::webp: return "webpsave";
    case ImageOutput::tiff: return "tiffsave";
    case ImageOutput::gif: return "gifsave";
    case ImageOutput::jp2: return "jp2ksave";
    case ImageOutput::bmp:
    case ImageOutput::psd:
    case ImageOutput::tga: return "magicksave";
    default: return nullptr;
    }
}

const char* magickFormat(ImageOutput output)
{
    switch (output) {
    case ImageOutput::bmp: return "BMP";
    case ImageOutput::psd: return "PSD";
    default: return "TGA";
    }
}

int save(VipsImage* in, ImageOutput output, const char* path, int q)
{
    switch (output) {
    case ImageOutput::jpg: return vips_jpegsave(in, path, "Q", q, nullptr);
    case ImageOutput::png: return vips_pngsave(in, path, nullptr);
    case ImageOutput::heic:
        return vips_heifsave(in, path, "Q", q, "compression", VIPS_FOREIGN_HEIF_COMPRESSION_HEVC, nullptr);
    case ImageOutput::avif:
        return vips_heifsave(in, path, "Q", q, "compression", VIPS_FOREIGN_HEIF_COMPRESSION_AV1, nullptr);
    case ImageOutput::webp: return vips_webpsave(in, path, "Q", q, nullptr);
    case ImageOutput::tiff:
        return vips_tiffsave(in, path, "compression", VIPS_FOREIGN_TIFF_COMPRESSION_LZW, nullptr);
    case ImageOutput::gif: return vips_gifsave(in, path, nullptr);
    case ImageOutput::jp2: return vips_jp2ksave(in, path, "Q", q, nullptr);
    case ImageOutput::bmp:
    case ImageOutput::psd:
    case ImageOutput::tga: return vips_magicksave(in, path, "format", magickFormat(output), nullptr);
    default: return -1;
    }
}

int saveToBuffer(VipsImage* in, ImageOutput output, void** data, size_t* length, int q)
{
    if (output == ImageOutput::jpg)
        return vips_jpegsave_buffer(in, data, length, "Q", q, nullptr);
    return vips_pngsave_buffer(in, data, length, nullptr);
}

// A copy of the pixels carrying exactly the given properties and the colour profile.
VipsRef withProperties(VipsImage* in, const ImageProperties& properties, double fallbackDpi)
{
    const double dpiX = properties.dpiWidth.value_or(fallbackDpi);
    const double dpiY = properties.dpiHeight.value_or(dpiX);
    VipsRef out = vipsStep(in, [&](VipsImage* i, VipsImage** o) {
        return vips_copy(i, o, "xres", dpiX / 25.4, "yres", dpiY / 25.4, nullptr);
    });
    if (!out)
        return {};
    if (gchar** fields = vips_image_get_fields(out.get())) {
        for (gchar** field = fields; *field; ++field) {
            if (qstrcmp(*field, VIPS_META_ICC_NAME) != 0)
                vips_image_remove(out.get(), *field);
        }
        g_strfreev(fields);
    }
    if (!properties.exif.isEmpty())
        vips_image_set_blob_copy(out.get(), VIPS_META_EXIF_NAME, properties.exif.constData(),
                                 size_t(properties.exif.size()));
    if (!properties.iptc.isEmpty())
        vips_image_set_blob_copy(out.get(), VIPS_META_IPTC_NAME, properties.iptc.constData(),
                                 size_t(properties.iptc.size()));
    if (!properties.xmp.isEmpty())
        vips_image_set_blob_copy(out.get(), VIPS_META_XMP_NAME, properties.xmp.constData(),
                                 size_t(properties.xmp.size()));
    if (properties.orientation)
        vips_image_set_int(out.get(), VIPS_META_ORIENTATION, *properties.orientation);
    return out;
}

// A failed save in the user's words: the reading side's fault, memory, or the writing.
EngineError saveError(ImageOutput output, const QString& log)
{
    const QString lower = log.toLower();
    if (lower.contains(QLatin1String("out of memory")) || lower.contains(QLatin1String("unable to allocate")))
        return EngineError(QStringLiteral("Not enough memory for this image"), log);
    static const char* const readingFaults[] = {"load", "read error", "truncated", "premature end",
                                                "corrupt", "crc error", "not enough data"};
    if (std::any_of(std::begin(readingFaults), std::end(readingFaults),
                    [&](const char* fault) { return lower.contains(QLatin1String(fault)); }))
        return EngineError(ImageDecoder::damagedMessage(), log);
    return EngineError(ImageWriter::writeFailedMessage(output), log);
}

void writeWithVips(const DecodedImage& image, ImageOutput output, const QString& path,
                   const ImageProperties& properties, double quality, const ImageWork& work)
{
    const char* saver = saverName(output);
    if (!ensureVips() || !saver || !vips_type_find("VipsOperation", saver))
        throw EngineError(ImageWriter::cannotWriteMessage(output));
    VipsImage* pixels = vipsImage(image);
    if (!pixels)
        throw EngineError(ImageWriter::writeFailedMessage(output));
    VipsRef ready = withProperties(pixels, properties, image.dpi());
    if (!ready)
        throw EngineError(QStringLiteral("Not enough memory for this image"), takeVipsError());
    EvalWatch watch{work.stop, work.progress};
    vips_image_set_progress(ready.get(), TRUE);
    g_signal_connect(ready.get(), "eval", G_CALLBACK(onEval), &watch);
    const QByteArray native = QFile::encodeName(path);
    const int status = save(ready.get(), output, native.constData(), ImageWriter::vipsQuality(quality));
    const QString log = status != 0 ? takeVipsError() : QString();
    ready.reset();
    if (status != 0 || work.stop.stop_requested()) {
        QFile::remove(path);
        throwIfCancelled(work.stop);
        throw saveError(output, log);
    }
    if (!QFileInfo(path).isFile() || QFileInfo(path).size() == 0) {
        QFile::remove(path);
        throw EngineError(ImageWriter::writeFailedMessage(output));
    }
}

void writeWithFFmpeg(const DecodedImage& image, ImageOutput output, const QString& path,
                     double quality, const ImageWork& work)
{
    const QString png = QFileInfo(path).dir().filePath(QUuid::createUuid().toString(QUuid::WithoutBraces)
                                                       + QStringLiteral(".png"));
    struct Remove {
        QString path;
        ~Remove() { QFile::remove(path); }
    } intermediate{png};
    writeWithVips(image, ImageOutput::png, png, {}, 1.0, work);
    const QStringList encoder = output == ImageOutput::avif
        ? FFmpegImageWriter::avifEncoderArgs(quality, image.hasAlpha())
        : FFmpegImageWriter::webpEncoderArgs(quality, false);
    try {
        FFmpegImageWriter::run(png, encoder, path, work);
    } catch (...) {
        QFile::remove(path);
        throw;
    }
}

} // namespace

QString ImageWriter::cannotWriteMessage(ImageOutput output, const QString& noun)
{
    return platformWording(QStringLiteral("This Mac can't write ") + toString(output).toUpper()
                           + QLatin1Char(' ') + noun);
}

QString ImageWriter::writeFailedMessage(ImageOutput output)
{
    return QStringLiteral("Couldn't write the ") + toString(output).toUpper() + QStringLiteral(" file");
}

int ImageWriter::vipsQuality(double quality)
{
    return std::clamp(int(std::lround(quality * 100.0)), 1, 100);
}

ImageProperties ImageWriter::destinationProperties(const ImageProperties& source, bool keepMetadata)
{
    ImageProperties result;
    result.dpiWidth = source.dpiWidth;
    result.dpiHeight = source.dpiHeight;
    if (!keepMetadata)
        return result;
    result.orientation = 1;
    if (!source.exif.isEmpty())
        result.exif = ImageMetadata::uprightExif(source.exif);
    result.iptc = source.iptc;
    return result;
}

double ImageWriter::outputQuality(ImageOutput output, std::optional<int> sourceQuality,
                                  const SettingsSnapshot& settings)
{
    switch (output) {
    case ImageOutput::jpg:
        if (sourceQuality)
            return std::min(settings.jpegQuality, *sourceQuality / 100.0);
        return settings.jpegQuality;
    case ImageOutput::jp2: return settings.jpegQuality;
    case ImageOutput::heic: return settings.heicQuality;
    case ImageOutput::webp: return settings.webpQuality / 100.0;
    case ImageOutput::avif: return settings.avifQuality / 100.0;
    default: return 1.0;
    }
}

void ImageWriter::write(const DecodedImage& image, ImageOutput output, const QString& path,
                        const ImageProperties& properties, double quality, const ImageWork& work)
{
    throwIfCancelled(work.stop);
    if (output == ImageOutput::ico || output == ImageOutput::icns) {
        IconFileWriter::writeIconFile(image, path, output, work.stop);
        return;
    }
    if (output == ImageOutput::pdf)
        throw EngineError(cannotWriteMessage(output));
    if (output == ImageOutput::jpg)
        quality = ImageEngine::calibratedJPEGQuality(quality);
    const bool viaFFmpeg = (output == ImageOutput::webp || output == ImageOutput::avif)
        && !work.writable().contains(imageOutputTypeIdentifier(output));
    if (viaFFmpeg)
        writeWithFFmpeg(image, output, path, quality, work);
    else
        writeWithVips(image, output, path, properties, quality, work);
}

QByteArray ImageWriter::encode(const DecodedImage& image, ImageOutput output, double quality,
                               std::stop_token stop)
{
    if (output != ImageOutput::jpg)
        output = ImageOutput::png;
    VipsImage* pixels = vipsImage(image);
    if (!ensureVips() || !pixels)
        throw EngineError(writeFailedMessage(output));
    ImageProperties properties;
    properties.dpiWidth = image.dpi();
    VipsRef ready = withProperties(pixels, properties, image.dpi());
    if (!ready)
        throw EngineError(QStringLiteral("Not enough memory for this image"), takeVipsError());
    EvalWatch watch{stop, nullptr};
    vips_image_set_progress(ready.get(), TRUE);
    g_signal_connect(ready.get(), "eval", G_CALLBACK(onEval), &watch);
    void* data = nullptr;
    size_t length = 0;
    const int q = vipsQuality(output == ImageOutput::jpg ? ImageEngine::calibratedJPEGQuality(quality) : quality);
    const int status = saveToBuffer(ready.get(), output, &data, &length, q);
    const QString log = status != 0 ? takeVipsError() : QString();
    ready.reset();
    if (status != 0 || !data) {
        g_free(data);
        throwIfCancelled(stop);
        throw saveError(output, log);
    }
    QByteArray bytes(static_cast<const char*>(data), qsizetype(length));
    g_free(data);
    throwIfCancelled(stop);
    return bytes;
}

} // namespace qv
