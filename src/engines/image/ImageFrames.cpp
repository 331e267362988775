#include "engines/image/ImageFrames.h"

#include "engines/image/foreign/AnimationReader.h"
#include "engines/image/foreign/ImageDecoder.h"
#include "engines/image/VipsPixels.h"
#include "engines/image/VipsRuntime.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "platform/files/FileContents.h"

#include <QDir>
#include <QFile>

#include <vips/vips.h>

#include <cmath>
#include <functional>
#include <memory>
#include <utility>

namespace qv {

namespace {

const QString damagedMessage = QStringLiteral("This file is damaged or not in a supported format");
const QString memoryMessage = QStringLiteral("Not enough memory for this image");

struct Unref {
    void operator()(VipsImage* image) const { g_object_unref(image); }
};
using VipsPointer = std::unique_ptr<VipsImage, Unref>;

struct TargetUnref {
    void operator()(VipsTarget* target) const { g_object_unref(target); }
};

// A failed run of a pipeline: stopped, the source did not decode, memory ran out, or the
// writing side failed with the given sentence. Loaders name themselves in libvips' errors.
[[noreturn]] void throwPipelineError(const std::stop_token& stop, const QString& writeMessage)
{
    const QString log = takeVipsError();
    throwIfCancelled(stop);
    if (log.contains(QLatin1String("out of memory"), Qt::CaseInsensitive)
        || log.contains(QLatin1String("unable to allocate"), Qt::CaseInsensitive))
        throw EngineError(memoryMessage, log);
    if (ImageDecoder::isReadingFault(log))
        throw EngineError(damagedMessage, log);
    throw EngineError(writeMessage, log);
}

// Each step consumes its input and throws with the write sentence when libvips refuses it.
template <typename Operation>
VipsPointer step(VipsPointer in, Operation operation, const std::stop_token& stop,
                 const QString& writeMessage)
{
    VipsImage* out = nullptr;
    if (operation(in.get(), &out) != 0)
        throwPipelineError(stop, writeMessage);
    return VipsPointer(out);
}

struct Animation {
    VipsPointer image;   // every frame stacked top to bottom, decoded only when pulled
    int width = 0;
    int pageHeight = 0;
    int pages = 1;
    QList<ImageFrames::Frame> frames;
};

QList<ImageFrames::Frame> framesOf(VipsImage* image, int pages)
{
    int* delays = nullptr;
    int count = 0;
    if (vips_image_get_typeof(image, "delay") == 0
        || vips_image_get_array_int(image, "delay", &delays, &count) != 0) {
        vips_error_clear();
        count = 0;
    }
    QList<ImageFrames::Frame> frames;
    frames.reserve(pages);
    for (int index = 0; index < pages; ++index) {
        const std::optional<int> delay = index < count ? std::optional<int>(delays[index]) : std::nullopt;
        frames.append({index, ImageFrames::frameDelay(delay)});
    }
    return frames;
}

VipsPointer openHeader(const QString& path)
{
    requireVips();
    if (!ensureVips())
        throw EngineError(damagedMessage);
    const QByteArray native = QFile::encodeName(path);
    VipsImage* image = vips_image_new_from_file(native.constData(), "access", VIPS_ACCESS_SEQUENTIAL,
                                                nullptr);
    if (!image)
        throw EngineError(damagedMessage, takeVipsError());
    return VipsPointer(image);
}

// Every frame as one tall image read from top to bottom: a frame is decoded when the pipeline
// reaches it and none is kept once passed.
Animation openAnimation(const QString& path)
{
    requireVips();
    if (!ensureVips())
        throw EngineError(damagedMessage);
    Animation animation;
    VipsImage* opened = openAnimationImage(path);
    if (!opened) {
        const QString log = takeVipsError();
        throw EngineError(log.contains(QLatin1String("too large")) ? memoryMessage : damagedMessage, log);
    }
    animation.image.reset(opened);
    VipsImage* image = animation.image.get();
    animation.pages = std::max(1, vips_image_get_n_pages(image));
    animation.width = image->Xsize;
    animation.pageHeight = vips_image_get_page_height(image);
    if (animation.width <= 0 || animation.pageHeight <= 0
        || image->Ysize != animation.pageHeight * animation.pages)
        throw EngineError(damagedMessage);
    animation.frames = framesOf(image, animation.pages);
    return animation;
}

// Reaches libvips while the pipeline runs: a kill ends its evaluation at the next region.
class KillOnStop {
public:
    KillOnStop(const std::stop_token& stop, VipsImage* image)
        : m_callback(stop, [image] { vips_image_set_kill(image, TRUE); })
    {
    }

private:
    std::stop_callback<std::function<void()>> m_callback;
};

// sRGB with 8 bits a sample, keeping alpha.
VipsPointer inSRGB(VipsPointer image, const std::stop_token& stop, const QString& writeMessage)
{
    image = step(std::move(image), [](VipsImage* in, VipsImage** out) {
        return vips_colourspace(in, out, VIPS_INTERPRETATION_sRGB, nullptr);
    }, stop, writeMessage);
    if (image->BandFmt != VIPS_FORMAT_UCHAR)
        image = step(std::move(image), [](VipsImage* in, VipsImage** out) {
            return vips_cast(in, out, VIPS_FORMAT_UCHAR, nullptr);
        }, stop, writeMessage);
    return image;
}

QString secondsText(double seconds)
{
    QString text = QString::asprintf("%.4f", seconds);
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

void removeLeftover(const QString& path)
{
    QFile::remove(path);
}

} // namespace

double ImageFrames::frameDelay(std::optional<int> milliseconds)
{
    if (!milliseconds || *milliseconds < std::lround(shortestDelay * 1000))
        return defaultDelay;
    return *milliseconds / 1000.0;
}

std::pair<int, int> ImageFrames::scaledSize(int width, int height, int maxDimension)
{
    const int longer = std::max(width, height);
    if (maxDimension <= 0 || longer <= maxDimension)
        return {width, height};
    const double scale = double(maxDimension) / longer;
    return {std::max(1, int(std::lround(width * scale))), std::max(1, int(std::lround(height * scale)))};
}

QList<ImageFrames::Frame> ImageFrames::frames(const QString& path)
{
    const VipsPointer header = openHeader(path);
    const int pages = vips_image_get_n_pages(header.get());
    if (pages < 1 || header->Xsize <= 0 || header->Ysize <= 0)
        throw EngineError(damagedMessage);
    return framesOf(header.get(), pages);
}

QString ImageFrames::frameFileName(int index)
{
    return QString::asprintf("frame%05d.png", index);
}

QString ImageFrames::concatList(const QList<Frame>& frames)
{
    QString text = QStringLiteral("ffconcat version 1.0\n");
    for (const Frame& frame : frames) {
        text += QStringLiteral("file '") + frameFileName(frame.index) + QStringLiteral("'\n");
        text += QStringLiteral("duration ") + secondsText(frame.delay) + QLatin1Char('\n');
    }
    if (!frames.isEmpty())
        text += QStringLiteral("file '") + frameFileName(frames.last().index) + QStringLiteral("'\n");
    return text;
}

void ImageFrames::writeGIF(const QString& sourcePath, const QString& destinationPath, int maxDimension,
                           std::stop_token stop)
{
    const QString writeMessage = QStringLiteral("Couldn't write the GIF");
    throwIfCancelled(stop);
    Animation animation = openAnimation(sourcePath);
    const KillOnStop killSource(stop, animation.image.get());
    VipsPointer image = inSRGB(std::move(animation.image), stop, writeMessage);

    const auto [width, pageHeight] = scaledSize(animation.width, animation.pageHeight, maxDimension);
    if (width != animation.width || pageHeight != animation.pageHeight) {
        // One resize over the stacked frames, with the vertical scale chosen so every frame
        // lands on whole rows; premultiplied so transparent pixels do not darken the edges.
        const double hscale = double(width) / animation.width;
        const double vscale = double(pageHeight) / animation.pageHeight;
        const bool alpha = vips_image_hasalpha(image.get());
        if (alpha)
            image = step(std::move(image), [](VipsImage* in, VipsImage** out) {
                return vips_premultiply(in, out, nullptr);
            }, stop, memoryMessage);
        image = step(std::move(image), [hscale, vscale](VipsImage* in, VipsImage** out) {
            return vips_resize(in, out, hscale, "vscale", vscale, nullptr);
        }, stop, memoryMessage);
        if (alpha)
            image = step(std::move(image), [](VipsImage* in, VipsImage** out) {
                return vips_unpremultiply(in, out, nullptr);
            }, stop, memoryMessage);
        const int height = pageHeight * animation.pages;
        if (image->Xsize != width || image->Ysize != height)
            image = step(std::move(image), [width, height](VipsImage* in, VipsImage** out) {
                return vips_gravity(in, out, VIPS_COMPASS_DIRECTION_NORTH_WEST, width, height, "extend",
                                    VIPS_EXTEND_COPY, nullptr);
            }, stop, memoryMessage);
        image = step(std::move(image), [](VipsImage* in, VipsImage** out) {
            return vips_cast(in, out, VIPS_FORMAT_UCHAR, nullptr);
        }, stop, memoryMessage);
    }

    // A private copy carries the GIF's own fields and none of the source's.
    image = step(std::move(image), [](VipsImage* in, VipsImage** out) { return vips_copy(in, out, nullptr); },
                 stop, writeMessage);
    QList<int> delays;
    for (const Frame& frame : std::as_const(animation.frames))
        delays.append(int(std::lround(frame.delay * 1000)));
    vips_image_set_int(image.get(), VIPS_META_PAGE_HEIGHT, pageHeight);
    vips_image_set_array_int(image.get(), "delay", delays.constData(), int(delays.size()));
    vips_image_set_int(image.get(), "loop", 0);
    vips_image_remove(image.get(), "gif-delay");
    vips_image_remove(image.get(), "gif-comment");
    const KillOnStop killResult(stop, image.get());

    const QByteArray native = QFile::encodeName(destinationPath);
    std::unique_ptr<VipsTarget, TargetUnref> target(vips_target_new_to_file(native.constData()));
    if (!target)
        throw EngineError(QStringLiteral("Couldn't create the GIF"), takeVipsError());
    const VipsErrorWatch lostFailure;
    const int status = vips_gifsave_target(image.get(), target.get(), "strip", TRUE, nullptr) != 0 || lostFailure.failed();
    target.reset();
    if (status != 0) {
        removeLeftover(destinationPath);
        throwPipelineError(stop, writeMessage);
    }
    if (stop.stop_requested()) {
        removeLeftover(destinationPath);
        throw CancellationError();
    }
}

QString ImageFrames::writeFrameSequence(const QString& sourcePath, const QString& folderPath,
                                        std::stop_token stop)
{
    const QString writeMessage = QStringLiteral("Couldn't write the PNG file");
    throwIfCancelled(stop);
    Animation animation = openAnimation(sourcePath);
    const KillOnStop killSource(stop, animation.image.get());
    const VipsPointer image = inSRGB(std::move(animation.image), stop, writeMessage);
    const QDir folder(folderPath);

    // Frames are cut out in file order, so the loader moves forward only; each is written and
    // its pixels let go before the next is decoded.
    for (const Frame& frame : std::as_const(animation.frames)) {
        throwIfCancelled(stop);
        VipsImage* raw = nullptr;
        if (vips_crop(image.get(), &raw, 0, frame.index * animation.pageHeight, animation.width,
                      animation.pageHeight, nullptr)
            != 0)
            throwPipelineError(stop, writeMessage);
        const VipsPointer page(raw);
        const QString path = folder.filePath(frameFileName(frame.index));
        const QByteArray native = QFile::encodeName(path);
        std::unique_ptr<VipsTarget, TargetUnref> target(vips_target_new_to_file(native.constData()));
        if (!target)
            throw EngineError(writeMessage, takeVipsError());
        // A fast deflate: the file lives only until FFmpeg has read it.
        const VipsErrorWatch lostFailure;
        const int status = vips_pngsave_target(page.get(), target.get(), "compression", 1, "strip", TRUE,
                                               nullptr)
                != 0
            || lostFailure.failed();
        target.reset();
        if (status != 0) {
            removeLeftover(path);
            throwPipelineError(stop, writeMessage);
        }
    }
    throwIfCancelled(stop);

    const QString listPath = folder.filePath(QStringLiteral("frames.ffconcat"));
    if (const std::optional<SystemError> error =
            FileContents::replace(listPath, concatList(animation.frames).toUtf8()))
        throw *error;
    return listPath;
}

} // namespace qv
