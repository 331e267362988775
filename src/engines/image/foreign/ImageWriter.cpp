#include "engines/image/foreign/ImageWriter.h"

#include "engines/image/foreign/CheckedVipsTarget.h"
#include "engines/image/foreign/FFmpegImageWriter.h"
#include "engines/image/foreign/IconFileWriter.h"
#include "engines/image/foreign/ImageDecoder.h"
#include "engines/image/foreign/PsdWriter.h"
#include "engines/image/foreign/WebPWriter.h"
#include "engines/image/ImageEngine.h"
#include "engines/image/metadata/ImageMetadata.h"
#include "engines/image/VipsPixels.h"
#include "engines/image/VipsRuntime.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"
#include "model/operations/Progress.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
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
    case ImageOutput::tga: return "magicksave";
    default: return nullptr;
    }
}

const char* magickFormat(ImageOutput output)
{
    return output == ImageOutput::bmp ? "BMP" : "TGA";
}

// Savers that take a target write through a checked one; the others through their own files
// (WebP, Photoshop) or into memory first (ImageMagick's).
int save(VipsImage* in, ImageOutput output, const QString& path, int q, const ImageWork& work)
{
    const QByteArray native = QFile::encodeName(path);
    switch (output) {
    case ImageOutput::webp: return WebPWriter::save(in, native.constData(), q, work.lowMemory, work.stop);
    case ImageOutput::psd: return PsdWriter::save(in, native.constData());
    case ImageOutput::bmp:
    case ImageOutput::tga: {
        void* data = nullptr;
        size_t length = 0;
        if (vips_magicksave_buffer(in, &data, &length, "format", magickFormat(output), nullptr) != 0)
            return -1;
        // ImageMagick writes a TGA's rows from the top but says they start at the bottom: other
        // readers (FFmpeg, GIMP, libvips' own) showed it upside down. The descriptor's bit 5
        // says the top.
        if (output == ImageOutput::tga && length > 18)
            static_cast<unsigned char*>(data)[17] |= 0x20;
        try {
            CheckedVipsTarget::writeFile(path, static_cast<const char*>(data), qsizetype(length));
        } catch (...) {
            g_free(data);
            throw;
        }
        g_free(data);
        return 0;
    }
    default: break;
    }
    CheckedVipsTarget file(path);
    VipsTarget* target = file.target();
    if (!target)
        throw SystemError::fromErrno(file.error(), QStringLiteral("Cannot write ") + path);
    int status = -1;
    // Lossy coders move a small picture's colours far (a two-pixel picture by a tenth of the
    // range); at this size a lossless file is no larger.
    const gboolean small = in->Xsize * in->Ysize <= 128 * 128;
    switch (output) {
    case ImageOutput::jpg: status = vips_jpegsave_target(in, target, "Q", q, nullptr); break;
    case ImageOutput::png: status = vips_pngsave_target(in, target, nullptr); break;
    case ImageOutput::heic:
        status = vips_heifsave_target(in, target, "Q", q, "lossless", small, "subsample_mode",
                                      small ? VIPS_FOREIGN_SUBSAMPLE_OFF : VIPS_FOREIGN_SUBSAMPLE_AUTO,
                                      "compression", VIPS_FOREIGN_HEIF_COMPRESSION_HEVC, nullptr);
        break;
    case ImageOutput::avif:
        status = vips_heifsave_target(in, target, "Q", q, "lossless", small, "subsample_mode",
                                      small ? VIPS_FOREIGN_SUBSAMPLE_OFF : VIPS_FOREIGN_SUBSAMPLE_AUTO,
                                      "compression", VIPS_FOREIGN_HEIF_COMPRESSION_AV1, nullptr);
        break;
    case ImageOutput::tiff:
        status = vips_tiffsave_target(in, target, "compression", VIPS_FOREIGN_TIFF_COMPRESSION_LZW, nullptr);
        break;
    case ImageOutput::gif: status = vips_gifsave_target(in, target, nullptr); break;
    case ImageOutput::jp2:
        // OpenJPEG's rate control also puts a small flat picture an eighth off (white came out
        // grey 224).
        status = small
            ? vips_jp2ksave_target(in, target, "lossless", TRUE, nullptr)
            : vips_jp2ksave_target(in, target, "Q", q, nullptr);
        break;
    default: break;
    }
    // A refused write is the cause, whatever the saver made of it.
    if (file.error() != 0)
        vips_error_clear();
    file.finish();
    return status;
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

// A failed save in the user's words: memory, the reading side's fault, or the writing. libvips
// decodes while it writes, so a damaged input shows up here; the file the pixels come from is
// decoded once more to tell which side failed.
EngineError saveError(ImageOutput output, const QString& log, const QString& source)
{
    const QString lower = log.toLower();
    if (lower.contains(QLatin1String("out of memory")) || lower.contains(QLatin1String("unable to allocate")))
        return EngineError(QStringLiteral("Not enough memory for this image"), log);
    if (ImageDecoder::isReadingFault(log) || (!source.isEmpty() && !ImageDecoder::decodes(source)))
        return EngineError(ImageDecoder::damagedMessage(), log);
    return EngineError(ImageWriter::writeFailedMessage(output), log);
}

// Photoshop files could hold CMYK too, but libvips' ImageMagick loader reads their black wrong.
bool holdsCmyk(ImageOutput output)
{
    return output == ImageOutput::jpg || output == ImageOutput::tiff;
}

// The pixels as the saver should get them. Savers that cannot hold CMYK convert it themselves,
// into 16 bits (PNG, HEIF) or not at all (JPEG 2000 takes the four bands for RGBA), so it becomes
// 8-bit sRGB here. A picture of 8 bits stays at 8.
VipsRef saveable(VipsImage* in, ImageOutput output)
{
    VipsRef out = vipsStep(in, [](VipsImage* i, VipsImage** o) { return vips_copy(i, o, nullptr); });
    if (!out)
        return {};
    const bool eightBit = in->BandFmt == VIPS_FORMAT_UCHAR || in->BandFmt == VIPS_FORMAT_CHAR;
    if (vips_image_guess_interpretation(in) == VIPS_INTERPRETATION_CMYK && !holdsCmyk(output)) {
        out = vipsStep(out.get(), [](VipsImage* i, VipsImage** o) {
            return vips_colourspace(i, o, VIPS_INTERPRETATION_sRGB, nullptr);
        });
        if (!out)
            return {};
        // The CMYK profile no longer describes these pixels.
        vips_image_remove(out.get(), VIPS_META_ICC_NAME);
    }
    if (output == ImageOutput::psd) {
        // The Photoshop writer takes grey or RGB at 8 or 16 bits as they stand.
        const VipsInterpretation kind = vips_image_guess_interpretation(out.get());
        const bool direct = kind == VIPS_INTERPRETATION_B_W || kind == VIPS_INTERPRETATION_GREY16
            || kind == VIPS_INTERPRETATION_sRGB || kind == VIPS_INTERPRETATION_RGB16;
        if (!direct)
            out = vipsStep(out.get(), [eightBit](VipsImage* i, VipsImage** o) {
                return vips_colourspace(i, o, eightBit ? VIPS_INTERPRETATION_sRGB : VIPS_INTERPRETATION_RGB16,
                                        nullptr);
            });
        if (out && out->BandFmt != VIPS_FORMAT_UCHAR && out->BandFmt != VIPS_FORMAT_USHORT)
            out = vipsStep(out.get(), [eightBit](VipsImage* i, VipsImage** o) {
                return vips_cast(i, o, eightBit ? VIPS_FORMAT_UCHAR : VIPS_FORMAT_USHORT, nullptr);
            });
        if (!out)
            return {};
        const int colours = out->Bands <= 2 ? 1 : 3;
        if (out->Bands > colours + 1)
            out = vipsStep(out.get(), [colours](VipsImage* i, VipsImage** o) {
                return vips_extract_band(i, o, 0, "n", colours + 1, nullptr);
            });
        return out;
    }
    if (eightBit && out->BandFmt != VIPS_FORMAT_UCHAR) {
        out = vipsStep(out.get(), [](VipsImage* i, VipsImage** o) {
            return vips_cast(i, o, VIPS_FORMAT_UCHAR, nullptr);
        });
    }
    // JPEG 2000 holds integers only: an HDR or float picture goes in at 16 bits.
    if (out && output == ImageOutput::jp2 && vips_band_format_isfloat(out->BandFmt)) {
        const VipsInterpretation deep = out->Bands <= 2 ? VIPS_INTERPRETATION_GREY16 : VIPS_INTERPRETATION_RGB16;
        out = vipsStep(out.get(), [deep](VipsImage* i, VipsImage** o) { return vips_colourspace(i, o, deep, nullptr); });
        if (out && out->BandFmt != VIPS_FORMAT_USHORT)
            out = vipsStep(out.get(), [](VipsImage* i, VipsImage** o) {
                return vips_cast(i, o, VIPS_FORMAT_USHORT, nullptr);
            });
    }
    return out;
}

void writeWithVips(const DecodedImage& image, ImageOutput output, const QString& path,
                   const ImageProperties& properties, double quality, const ImageWork& work)
{
    const char* saver = saverName(output);
    requireVips();
    if (!(saver ? ensureVipsOperation(saver) : ensureVips())
        || (output != ImageOutput::psd && (!saver || !vips_type_find("VipsOperation", saver))))
        throw EngineError(ImageWriter::cannotWriteMessage(output));
    VipsImage* pixels = vipsImage(image);
    if (!pixels)
        throw EngineError(ImageWriter::writeFailedMessage(output));
    VipsRef converted = saveable(pixels, output);
    VipsRef ready = converted ? withProperties(converted.get(), properties, image.dpi()) : VipsRef();
    converted.reset();
    if (!ready)
        throw EngineError(QStringLiteral("Not enough memory for this image"), takeVipsError());
    EvalWatch watch{work.stop, work.progress};
    vips_image_set_progress(ready.get(), TRUE);
    g_signal_connect(ready.get(), "eval", G_CALLBACK(onEval), &watch);
    int status = -1;
    const VipsErrorWatch lostFailure;
    try {
        status = save(ready.get(), output, path, ImageWriter::vipsQuality(quality), work);
        if (lostFailure.failed())
            status = -1;
    } catch (const SystemError&) {
        ready.reset();
        QFile::remove(path);
        throwIfCancelled(work.stop);
        throw;
    }
    const QString log = status != 0 ? takeVipsError() : QString();
    ready.reset();
    if (status != 0 || work.stop.stop_requested()) {
        QFile::remove(path);
        throwIfCancelled(work.stop);
        throw saveError(output, log, ImageDecoder::sourceFile(image));
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
    return QStringLiteral("This computer can't write ") + toString(output).toUpper() + QLatin1Char(' ') + noun;
}

void ImageWriter::checkFits(ImageOutput output, int width, int height)
{
    int largest = 0;
    switch (output) {
    case ImageOutput::heic:
    case ImageOutput::avif: largest = 16384; break;
    case ImageOutput::webp: largest = 16383; break;
    default: return;
    }
    if (width <= largest && height <= largest)
        return;
    throw EngineError(QStringLiteral("This picture is too large for %1: at most %2 pixels a side")
                          .arg(toString(output).toUpper(), QLocale(QLocale::English).toString(largest)),
                      QStringLiteral("%1 x %2 pixels").arg(width).arg(height));
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
    checkFits(output, image.width(), image.height());
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
                               std::stop_token stop, int* colourBands)
{
    if (output != ImageOutput::jpg)
        output = ImageOutput::png;
    VipsImage* pixels = vipsImage(image);
    requireVips();
    if (!ensureVips() || !pixels)
        throw EngineError(writeFailedMessage(output));
    ImageProperties properties;
    properties.dpiWidth = image.dpi();
    const VipsInterpretation seen = vips_image_guess_interpretation(pixels);
    const bool grey = seen == VIPS_INTERPRETATION_B_W || seen == VIPS_INTERPRETATION_GREY16;
    // Containers take the pixels as plain sRGB: colours of another profile (Display P3, Adobe
    // RGB) are converted, not relabelled. A profile that does not load leaves them as they are.
    VipsRef plain;
    if (!grey && seen != VIPS_INTERPRETATION_CMYK && vips_image_get_typeof(pixels, VIPS_META_ICC_NAME)) {
        plain = vipsStep(pixels, [](VipsImage* i, VipsImage** o) {
            return vips_icc_transform(i, o, "srgb", "embedded", TRUE, "depth", 8, nullptr);
        });
        if (plain)
            vips_image_remove(plain.get(), VIPS_META_ICC_NAME);
    }
    plain = vipsStep(plain ? plain.get() : pixels, [grey](VipsImage* i, VipsImage** o) {
        return vips_colourspace(i, o, grey ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB, nullptr);
    });
    if (plain && plain->BandFmt != VIPS_FORMAT_UCHAR)
        plain = vipsStep(plain.get(), [](VipsImage* i, VipsImage** o) {
            return vips_cast(i, o, VIPS_FORMAT_UCHAR, nullptr);
        });
    if (plain && seen == VIPS_INTERPRETATION_CMYK)
        vips_image_remove(plain.get(), VIPS_META_ICC_NAME);
    VipsRef ready = plain ? withProperties(plain.get(), properties, image.dpi()) : VipsRef();
    if (ready && colourBands)
        *colourBands = ready->Bands - (vips_image_hasalpha(ready.get()) ? 1 : 0);
    plain.reset();
    if (!ready)
        throw EngineError(QStringLiteral("Not enough memory for this image"), takeVipsError());
    EvalWatch watch{stop, nullptr};
    vips_image_set_progress(ready.get(), TRUE);
    g_signal_connect(ready.get(), "eval", G_CALLBACK(onEval), &watch);
    void* data = nullptr;
    size_t length = 0;
    const int q = vipsQuality(output == ImageOutput::jpg ? ImageEngine::calibratedJPEGQuality(quality) : quality);
    const VipsErrorWatch lostFailure;
    int status = saveToBuffer(ready.get(), output, &data, &length, q);
    if (lostFailure.failed())
        status = -1;
    const QString log = status != 0 ? takeVipsError() : QString();
    ready.reset();
    if (status != 0 || !data) {
        g_free(data);
        throwIfCancelled(stop);
        throw saveError(output, log, ImageDecoder::sourceFile(image));
    }
    QByteArray bytes(static_cast<const char*>(data), qsizetype(length));
    g_free(data);
    throwIfCancelled(stop);
    return bytes;
}

} // namespace qv
