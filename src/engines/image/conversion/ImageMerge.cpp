#include "engines/image/conversion/ImageMerge.h"

#include "engines/image/conversion/ImageToolOutput.h"
#include "engines/image/conversion/ImageTransforms.h"
#include "engines/image/foreign/ImageDecoder.h"
#include "engines/image/foreign/ImageWriter.h"
#include "engines/image/ImageEngine.h"
#include "engines/image/VipsPixels.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace qv {

namespace {

[[noreturn]] void tooLarge(const QString& log = {})
{
    throw EngineError(ImageMerge::tooLargeMessage(), log);
}

template <typename Operation>
VipsRef must(VipsImage* in, Operation operation)
{
    QString log;
    VipsRef out = vipsStep(in, operation, &log);
    if (!out)
        tooLarge(log);
    return out;
}

double scaleFor(QSize size, int common, MergeLayout layout)
{
    return double(common) / (layout == MergeLayout::horizontal ? size.height() : size.width());
}

} // namespace

QString ImageMerge::tooLargeMessage()
{
    return QStringLiteral("The merged image would be too large");
}

QSize ImageMerge::canvasSize(const QList<QSize>& sizes, MergeLayout layout)
{
    const bool across = layout == MergeLayout::horizontal;
    int common = 0;
    for (const QSize& size : sizes)
        common = std::max(common, across ? size.height() : size.width());
    double length = 0;
    for (const QSize& size : sizes)
        length += (across ? size.width() : size.height()) * scaleFor(size, common, layout);
    const qint64 rounded = std::llround(length);
    const int total = int(std::min<qint64>(rounded, std::numeric_limits<int>::max()));
    return across ? QSize(total, common) : QSize(common, total);
}

bool ImageMerge::fits(QSize canvas, ImageOutput output)
{
    const qint64 limit = output == ImageOutput::jpg ? 65535 : qint64(VIPS_MAX_COORD);
    return canvas.width() >= 1 && canvas.height() >= 1 && canvas.width() <= limit && canvas.height() <= limit;
}

QUrl ImageMerge::merge(const QList<FileInfo>& files, MergeLayout layout, const OperationContext& context,
                       const ImageWork& work)
{
    if (files.isEmpty())
        throw EngineError(ImageDecoder::damagedMessage());
    QList<DecodedImage> images;
    QList<QSize> sizes;
    bool alpha = false;
    for (const FileInfo& file : files) {
        throwIfCancelled(work.stop);
        images << ImageDecoder::decode(file.path(), inputLimit);
        sizes << QSize(images.last().width(), images.last().height());
        alpha = alpha || images.last().hasAlpha();
    }
    const ImageOutput output =
        alpha || ImageEngine::sameFormatOutput(files.first()) == ImageOutput::png ? ImageOutput::png : ImageOutput::jpg;
    const QSize canvas = canvasSize(sizes, layout);
    if (!fits(canvas, output))
        tooLarge();

    const bool across = layout == MergeLayout::horizontal;
    const int common = across ? canvas.height() : canvas.width();
    std::vector<DecodedImage> scaled;
    std::vector<VipsRef> parts;
    for (qsizetype i = 0; i < images.size(); ++i) {
        const double factor = scaleFor(sizes[i], common, layout);
        DecodedImage part = images[i];
        if (std::abs(factor - 1.0) > 1e-9)
            part = across ? ImageTransforms::scaledImage(part, sizes[i].width() * factor, common)
                          : ImageTransforms::scaledImage(part, common, sizes[i].height() * factor);
        scaled.push_back(part);
        VipsRef ready = must(vipsImage(part), [](VipsImage* in, VipsImage** out) {
            return vips_colourspace(in, out, VIPS_INTERPRETATION_sRGB, nullptr);
        });
        ready = must(ready.get(), [](VipsImage* in, VipsImage** out) { return vips_cast(in, out, VIPS_FORMAT_UCHAR, nullptr); });
        if (alpha && !vips_image_hasalpha(ready.get()))
            ready = must(ready.get(), [](VipsImage* in, VipsImage** out) { return vips_addalpha(in, out, nullptr); });
        parts.push_back(std::move(ready));
    }
    std::vector<VipsImage*> raw;
    for (const VipsRef& part : parts)
        raw.push_back(part.get());
    VipsImage* joined = nullptr;
    if (vips_arrayjoin(raw.data(), &joined, int(raw.size()), "across", across ? int(raw.size()) : 1, nullptr) != 0)
        tooLarge(takeVipsError());
    VipsRef result(joined);
    // Rounding each part may leave the join a pixel off the canvas.
    if (result->Xsize != canvas.width() || result->Ysize != canvas.height())
        result = must(result.get(), [&canvas](VipsImage* in, VipsImage** out) {
            return vips_gravity(in, out, VIPS_COMPASS_DIRECTION_NORTH_WEST, canvas.width(), canvas.height(),
                                "extend", VIPS_EXTEND_COPY, nullptr);
        });
    const DecodedImage merged = decodedFromVips(result.release(), {}, 72.0);

    const QString extension = toString(output);
    const QUrl file = work.workFile(extension);
    ImageToolOutput::WorkFileGuard guard{file.toLocalFile()};
    try {
        ImageWriter::write(merged, output, file.toLocalFile(), {}, context.settings.jpegQuality, work);
    } catch (const EngineError& error) {
        // The pictures are decoded while the merge is written; the writer knows only the first.
        if (error.message() == ImageWriter::writeFailedMessage(output))
            for (const FileInfo& input : files)
                if (!ImageDecoder::decodes(input.path()))
                    throw EngineError(ImageDecoder::damagedMessage(), error.log());
        throw;
    }
    throwIfCancelled(work.stop);
    const QUrl placed = ImageToolOutput::deliver(work, file, context.settings, QStringLiteral("merge"), extension);
    guard.kept = true;
    return placed;
}

} // namespace qv
