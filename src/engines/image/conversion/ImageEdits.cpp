#include "engines/image/conversion/ImageEdits.h"

#include "engines/image/conversion/AnnotationRenderer.h"
#include "engines/image/conversion/ImageRotation.h"
#include "engines/image/conversion/ImageToolOutput.h"
#include "engines/image/conversion/ImageTransforms.h"
#include "engines/image/foreign/ImageDecoder.h"
#include "engines/image/foreign/ImageWriter.h"
#include "engines/image/foreign/TiffPages.h"
#include "engines/image/ImageEngine.h"
#include "engines/image/metadata/ImageMetadata.h"
#include "engines/image/VipsPixels.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/operations/HexColor.h"
#include "model/operations/Progress.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cmath>

namespace qv {

namespace {


// A daylight white of that colour temperature, 0...255 per channel.
std::array<double, 3> kelvinWhite(double kelvin)
{
    const double t = kelvin / 100.0;
    double r = 255, g = 0, b = 255;
    if (t <= 66) {
        g = 99.4708025861 * std::log(t) - 161.1195681661;
    } else {
        r = 329.698727446 * std::pow(t - 60, -0.1332047592);
        g = 288.1221695283 * std::pow(t - 60, -0.0755148492);
    }
    if (t < 66)
        b = t <= 19 ? 0 : 138.5177312231 * std::log(t - 10) - 305.0447927307;
    auto clamp = [](double v) { return std::clamp(v, 1.0, 255.0); };
    return {clamp(r), clamp(g), clamp(b)};
}

bool rotates(const OperationOptions& options)
{
    return options.rotation.value_or(0) % 360 != 0;
}

bool flips(const OperationOptions& options)
{
    return options.flipHorizontal.value_or(false) || options.flipVertical.value_or(false);
}

ImageOutput editOutput(const OperationOptions& options, const FileInfo& file)
{
    if (options.outputFormat)
        if (const std::optional<ImageOutput> chosen = imageOutputFromString(*options.outputFormat))
            return *chosen;
    return ImageEngine::sameFormatOutput(file);
}

void progressTo(const ImageWork& work, double fraction)
{
    if (work.progress)
        reportProgress(fraction, *work.progress);
}

} // namespace

QString ImageEdits::emptyCropMessage()
{
    return QStringLiteral("The crop area is empty");
}

DecodedImage ImageEdits::cropped(const DecodedImage& image, const QRectF& rect)
{
    const QRect whole = rect.toAlignedRect();
    const QRect area = whole.intersected(QRect(0, 0, image.width(), image.height()));
    if (rect.isEmpty() || area.isEmpty())
        throw EngineError(emptyCropMessage());
    VipsImage* in = vipsImage(image);
    VipsRef out = vipsStep(in, [&area](VipsImage* i, VipsImage** o) {
        return vips_crop(i, o, area.x(), area.y(), area.width(), area.height(), nullptr);
    });
    if (!out)
        throw EngineError(emptyCropMessage());
    return decodedFromVips(out.release(), image.properties(), image.dpi());
}

DecodedImage ImageEdits::applyAdjustments(const DecodedImage& image, const PhotoAdjustments& a)
{
    if (a.isNeutral())
        return image;
    VipsRef current = mustStep(vipsImage(image), [](VipsImage* i, VipsImage** o) {
        return vips_colourspace(i, o, VIPS_INTERPRETATION_sRGB, nullptr);
    });
    current = mustStep(current.get(), [](VipsImage* i, VipsImage** o) { return vips_cast(i, o, VIPS_FORMAT_UCHAR, nullptr); });
    VipsRef alpha;
    if (vips_image_hasalpha(current.get())) {
        alpha = mustStep(current.get(), [](VipsImage* i, VipsImage** o) { return vips_extract_band(i, o, 3, "n", 1, nullptr); });
        current = mustStep(current.get(), [](VipsImage* i, VipsImage** o) { return vips_extract_band(i, o, 0, "n", 3, nullptr); });
    }
    if (a.exposure != 0.0) {
        const double gain = std::exp2(a.exposure);
        current = mustStep(current.get(), [](VipsImage* i, VipsImage** o) {
            return vips_colourspace(i, o, VIPS_INTERPRETATION_scRGB, nullptr);
        });
        current = mustStep(current.get(), [gain](VipsImage* i, VipsImage** o) {
            double m = gain, b = 0;
            return vips_linear(i, o, &m, &b, 1, nullptr);
        });
        current = mustStep(current.get(), [](VipsImage* i, VipsImage** o) {
            return vips_colourspace(i, o, VIPS_INTERPRETATION_sRGB, nullptr);
        });
    }
    if (a.contrast != 1.0) {
        current = mustStep(current.get(), [c = a.contrast](VipsImage* i, VipsImage** o) {
            double m = c, b = 128.0 * (1.0 - c);
            return vips_linear(i, o, &m, &b, 1, "uchar", TRUE, nullptr);
        });
    }
    if (a.saturation != 1.0) {
        current = mustStep(current.get(), [](VipsImage* i, VipsImage** o) {
            return vips_colourspace(i, o, VIPS_INTERPRETATION_LCH, nullptr);
        });
        current = mustStep(current.get(), [s = std::max(0.0, a.saturation)](VipsImage* i, VipsImage** o) {
            double m[3] = {1, s, 1}, b[3] = {0, 0, 0};
            return vips_linear(i, o, m, b, 3, nullptr);
        });
        current = mustStep(current.get(), [](VipsImage* i, VipsImage** o) {
            return vips_colourspace(i, o, VIPS_INTERPRETATION_sRGB, nullptr);
        });
    }
    if (a.warmth != 0.0) {
        const auto neutral = kelvinWhite(6500);
        const auto target = kelvinWhite(std::clamp(6500 - 2500 * a.warmth, 1000.0, 40000.0));
        current = mustStep(current.get(), [&](VipsImage* i, VipsImage** o) {
            double m[3] = {target[0] / neutral[0], target[1] / neutral[1], target[2] / neutral[2]};
            double b[3] = {0, 0, 0};
            return vips_linear(i, o, m, b, 3, "uchar", TRUE, nullptr);
        });
    }
    if (a.sharpness > 0.0) {
        current = mustStep(current.get(), [](VipsImage* i, VipsImage** o) { return vips_cast(i, o, VIPS_FORMAT_UCHAR, nullptr); });
        current = mustStep(current.get(), [s = a.sharpness](VipsImage* i, VipsImage** o) {
            return vips_sharpen(i, o, "sigma", 1.6, "m2", 3.0 * s * 1.5, nullptr);
        });
    }
    current = mustStep(current.get(), [](VipsImage* i, VipsImage** o) { return vips_cast(i, o, VIPS_FORMAT_UCHAR, nullptr); });
    if (alpha) {
        current = mustStep(current.get(), [&alpha](VipsImage* i, VipsImage** o) {
            return vips_bandjoin2(i, alpha.get(), o, nullptr);
        });
    }
    current = mustStep(current.get(), [](VipsImage* i, VipsImage** o) {
        const int status = vips_copy(i, o, "interpretation", VIPS_INTERPRETATION_sRGB, nullptr);
        return status;
    });
    return decodedFromVips(current.release(), image.properties(), image.dpi());
}

DecodedImage ImageEdits::editedImage(const DecodedImage& source, const OperationOptions& options,
                                     const SubjectLifter& lift, const std::optional<DecodedImage>& lifted)
{
    DecodedImage image = source;
    const bool removeBackground = options.removeBackground.value_or(false);
    if (removeBackground) {
        if (lifted) {
            image = *lifted;
        } else {
            if (!lift)
                throw EngineError(QStringLiteral("No subject found in this image"));
            image = DecodedImage::fromPixels(lift(image.toQImage()), image.dpi());
            image.setProperties(source.properties());
        }
    }
    if (rotates(options) || flips(options))
        image = ImageTransforms::transformed(image, options.rotation.value_or(0),
                                             options.flipHorizontal.value_or(false),
                                             options.flipVertical.value_or(false));
    if (options.cropRect)
        image = cropped(image, *options.cropRect);
    if (options.photo && !options.photo->isNeutral())
        image = applyAdjustments(image, *options.photo);
    if (options.annotations && !options.annotations->isEmpty()) {
        const ImageProperties properties = image.properties();
        image = DecodedImage::fromPixels(AnnotationRenderer::renderAnnotations(*options.annotations,
                                                                               image.toQImage()),
                                         image.dpi());
        image.setProperties(properties);
    }
    if (removeBackground && options.backgroundColor)
        image = ImageTransforms::flatten(image, colorFromHex(*options.backgroundColor).value_or(QColor(Qt::white)));
    if (options.exactSize && options.exactSize->width() >= 1 && options.exactSize->height() >= 1) {
        const int width = int(std::lround(options.exactSize->width()));
        const int height = int(std::lround(options.exactSize->height()));
        if (image.width() != width || image.height() != height)
            image = ImageTransforms::scaledImage(image, width, height);
    } else if (options.maxDimension && *options.maxDimension > 0) {
        const int longer = std::max(image.width(), image.height());
        if (longer != *options.maxDimension) {
            const double scale = double(*options.maxDimension) / longer;
            image = ImageTransforms::scaledImage(image, image.width() * scale, image.height() * scale);
        }
    }
    return image;
}

bool ImageEdits::isLosslessEdit(const OperationOptions& options, const FileInfo& file)
{
    const QString id = ImageToolOutput::formatId(file);
    static const QStringList losslessIds{QStringLiteral("jpg"), QStringLiteral("png"), QStringLiteral("tiff")};
    if (!losslessIds.contains(id) || file.frameCount >= 2)
        return false;
    if (toString(editOutput(options, file)) != id)
        return false;
    if (options.quality || (options.photo && !options.photo->isNeutral()) || options.cropRect
        || (options.maxDimension && *options.maxDimension != 0) || options.exactSize
        || options.removeBackground.value_or(false) || (options.annotations && !options.annotations->isEmpty())
        || flips(options))
        return false;
    // A quarter turn is an orientation change only where the orientation is honoured.
    return !rotates(options) || id == QLatin1String("jpg");
}

bool ImageEdits::applyLosslessEdit(const FileInfo& file, const OperationOptions& options, bool keepMetadata,
                                   const QString& destination)
{
    const int rotation = options.rotation.value_or(0);
    const QString source = file.path();
    if (keepMetadata && rotation % 360 == 0)
        return QFile::copy(source, destination);
    const int current = ImageDecoder::sourceOrientation(source);
    int orientation = current;
    if (rotation % 360 != 0) {
        const std::optional<int> turned = ImageRotation::turnedOrientation(current, rotation);
        if (!turned)
            return false;
        orientation = *turned;
    }
    ImageMetadata::CopyOptions copy;
    copy.orientation = orientation;
    copy.removeMetadata = !keepMetadata;
    return ImageMetadata::losslessCopy(source, destination, ImageEngine::sameFormatOutput(file), copy);
}

QUrl ImageEdits::applyEdits(const FileInfo& file, const OperationContext& context, const QString& operation,
                            const ImageWork& work, const SubjectLifter& lift)
{
    const OperationOptions& options = context.options;
    const bool keepMetadata =
        options.stripMetadata ? !*options.stripMetadata : context.settings.preserveMetadata;
    if (isLosslessEdit(options, file)) {
        // The bytes pass on undecoded, so a damaged file is refused here as every decode refuses it.
        ImageDecoder::verify(file.path());
        const QUrl copy = work.workFile(file.ext);
        ImageToolOutput::WorkFileGuard guard{copy.toLocalFile()};
        if (applyLosslessEdit(file, options, keepMetadata, copy.toLocalFile())) {
            throwIfCancelled(work.stop);
            const QUrl placed = ImageToolOutput::deliver(work, copy, context.settings, operation, file.ext);
            guard.kept = true;
            return placed;
        }
    }

    // Every page of a scan is cut, turned and adjusted alike; a subject lifted or a drawing
    // belongs to the page it was made on, so those keep the first page alone.
    const bool samePerPage = !options.removeBackground.value_or(false)
        && (!options.annotations || options.annotations->isEmpty());
    if (const int pages = TiffPages::count(file.path());
        pages > 1 && samePerPage && editOutput(options, file) == ImageOutput::tiff) {
        const QUrl result = work.workFile(toString(ImageOutput::tiff));
        ImageToolOutput::WorkFileGuard guard{result.toLocalFile()};
        bool first = true;
        TiffPages::write(file.path(), pages, result.toLocalFile(), [&](const DecodedImage& page) {
            // A later page the cut misses keeps its whole picture; the first one is the one shown.
            const bool whole = !first && options.cropRect
                && !options.cropRect->toAlignedRect().intersects(QRect(0, 0, page.width(), page.height()));
            first = false;
            OperationOptions own = options;
            if (whole)
                own.cropRect.reset();
            return editedImage(page, own, lift);
        }, work, std::nullopt, !keepMetadata);
        throwIfCancelled(work.stop);
        if (options.maxDimension || options.exactSize)
            ImageToolOutput::noteSaving(context, file.size, result.toLocalFile());
        const QUrl placed = ImageToolOutput::deliver(work, result, context.settings, operation, toString(ImageOutput::tiff));
        guard.kept = true;
        return placed;
    }

    const DecodedImage decoded = ImageDecoder::decode(file.path()).materialized();
    progressTo(work, 0.15);
    const bool sourceAlpha = decoded.hasAlpha();
    DecodedImage image = editedImage(decoded, options, lift);
    const ImageOutput output = editOutput(options, file);
    if (image.hasAlpha()) {
        const bool removeBackground = options.removeBackground.value_or(false);
        const bool wanted = removeBackground ? !options.backgroundColor : sourceAlpha;
        if (!wanted)
            image = ImageTransforms::flatten(image, Qt::white);
        else if (lacksAlpha(output))
            image = ImageTransforms::flatten(image, ImageToolOutput::alphaBackground(context));
    }
    progressTo(work, 0.6);
    const QString extension = toString(output);
    const QUrl result = work.workFile(extension);
    ImageToolOutput::WorkFileGuard guard{result.toLocalFile()};
    const double quality = options.quality.value_or(
        ImageWriter::outputQuality(output, ImageEngine::estimatedJPEGQuality(file), context.settings));
    const ImageProperties properties = ImageWriter::destinationProperties(decoded.properties(), keepMetadata);
    ImageWriter::write(image, output, result.toLocalFile(), properties, quality, work);
    throwIfCancelled(work.stop);
    if (options.quality || options.outputFormat || (options.maxDimension && *options.maxDimension > 0)
        || options.exactSize)
        ImageToolOutput::noteSaving(context, file.size, result.toLocalFile());
    const QUrl placed = ImageToolOutput::deliver(work, result, context.settings, operation, extension);
    guard.kept = true;
    return placed;
}

} // namespace qv
