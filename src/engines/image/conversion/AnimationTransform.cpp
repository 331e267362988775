#include "engines/image/conversion/AnimationTransform.h"

#include "engines/image/foreign/AnimationReader.h"
#include "engines/image/foreign/CheckedVipsTarget.h"
#include "engines/image/foreign/ImageDecoder.h"
#include "engines/image/foreign/ImageWriter.h"
#include "engines/image/VipsPixels.h"
#include "engines/image/VipsRuntime.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <vector>

namespace qv {

namespace {


VipsRef turned(VipsRef frame, const AnimationTransform::Edit& edit)
{
    const int turns = ((edit.degrees / 90) % 4 + 4) % 4;
    if (turns != 0) {
        const VipsAngle angle = turns == 1 ? VIPS_ANGLE_D90 : turns == 2 ? VIPS_ANGLE_D180 : VIPS_ANGLE_D270;
        frame = mustStep(frame.get(), [angle](VipsImage* i, VipsImage** o) { return vips_rot(i, o, angle, nullptr); });
    }
    if (edit.flipHorizontally)
        frame = mustStep(frame.get(), [](VipsImage* i, VipsImage** o) {
            return vips_flip(i, o, VIPS_DIRECTION_HORIZONTAL, nullptr);
        });
    if (edit.flipVertically)
        frame = mustStep(frame.get(), [](VipsImage* i, VipsImage** o) {
            return vips_flip(i, o, VIPS_DIRECTION_VERTICAL, nullptr);
        });
    if (edit.longerSide) {
        const int longer = std::max(frame->Xsize, frame->Ysize);
        const double scale = double(std::max(1, *edit.longerSide)) / longer;
        if (std::abs(scale - 1.0) > 1e-9) {
            const bool alpha = vips_image_hasalpha(frame.get());
            if (alpha)
                frame = mustStep(frame.get(), [](VipsImage* i, VipsImage** o) { return vips_premultiply(i, o, nullptr); });
            frame = mustStep(frame.get(), [scale](VipsImage* i, VipsImage** o) {
                return vips_resize(i, o, scale, nullptr);
            });
            if (alpha)
                frame = mustStep(frame.get(), [](VipsImage* i, VipsImage** o) { return vips_unpremultiply(i, o, nullptr); });
            frame = mustStep(frame.get(), [](VipsImage* i, VipsImage** o) { return vips_cast(i, o, VIPS_FORMAT_UCHAR, nullptr); });
        }
    }
    // Decoded now, so the joined animation reads each frame from memory in any order.
    return mustStep(frame.get(), [](VipsImage* i, VipsImage** o) {
        *o = vips_image_copy_memory(i);
        return *o ? 0 : -1;
    });
}

} // namespace

void AnimationTransform::write(const QString& source, const QString& destination, ImageOutput output,
                               const Edit& edit, std::stop_token stop)
{
    if (output != ImageOutput::gif && output != ImageOutput::webp)
        throw EngineError(ImageWriter::cannotWriteMessage(output));
    throwIfCancelled(stop);
    requireVips();
    if (!ensureVips())
        throw EngineError(ImageDecoder::damagedMessage());
    VipsRef animation(openAnimationImage(source));
    if (!animation)
        throw EngineError(ImageDecoder::damagedMessage(), takeVipsError());
    const int pages = std::max(1, vips_image_get_n_pages(animation.get()));
    const int width = animation->Xsize;
    const int pageHeight = vips_image_get_page_height(animation.get());
    if (width <= 0 || pageHeight <= 0 || animation->Ysize != pageHeight * pages)
        throw EngineError(ImageDecoder::damagedMessage());
    std::vector<int> delays;
    if (int* values = nullptr; vips_image_get_typeof(animation.get(), "delay") != 0) {
        int count = 0;
        if (vips_image_get_array_int(animation.get(), "delay", &values, &count) == 0)
            delays.assign(values, values + count);
    }
    int loop = 0;
    if (vips_image_get_typeof(animation.get(), "loop") != 0)
        vips_image_get_int(animation.get(), "loop", &loop);

    VipsRef rgb = mustStep(animation.get(), [](VipsImage* i, VipsImage** o) {
        return vips_colourspace(i, o, VIPS_INTERPRETATION_sRGB, nullptr);
    });
    rgb = mustStep(rgb.get(), [](VipsImage* i, VipsImage** o) { return vips_cast(i, o, VIPS_FORMAT_UCHAR, nullptr); });
    if (!vips_image_hasalpha(rgb.get()))
        rgb = mustStep(rgb.get(), [](VipsImage* i, VipsImage** o) { return vips_addalpha(i, o, nullptr); });

    std::vector<VipsRef> frames;
    qint64 held = 0;
    for (int page = 0; page < pages; ++page) {
        throwIfCancelled(stop);
        VipsRef frame = mustStep(rgb.get(), [page, width, pageHeight](VipsImage* i, VipsImage** o) {
            return vips_crop(i, o, 0, page * pageHeight, width, pageHeight, nullptr);
        });
        frame = turned(std::move(frame), edit);
        held += qint64(frame->Xsize) * frame->Ysize * frame->Bands;
        if (held > memoryCap)
            throwNoMemory(QStringLiteral("the frames would take more than %1 MiB").arg(memoryCap >> 20));
        if (!frames.empty() && (frame->Xsize != frames.front()->Xsize || frame->Ysize != frames.front()->Ysize))
            frame = mustStep(frame.get(), [&](VipsImage* i, VipsImage** o) {
                return vips_embed(i, o, 0, 0, frames.front()->Xsize, frames.front()->Ysize, nullptr);
            });
        frames.push_back(std::move(frame));
    }
    std::vector<VipsImage*> raw;
    for (const VipsRef& frame : frames)
        raw.push_back(frame.get());
    VipsImage* joined = nullptr;
    if (vips_arrayjoin(raw.data(), &joined, int(raw.size()), "across", 1, nullptr) != 0)
        throwNoMemory(takeVipsError());
    VipsRef result(joined);
    result = mustStep(result.get(), [](VipsImage* i, VipsImage** o) { return vips_copy(i, o, nullptr); });
    vips_image_set_int(result.get(), VIPS_META_PAGE_HEIGHT, frames.front()->Ysize);
    if (!delays.empty())
        vips_image_set_array_int(result.get(), "delay", delays.data(), int(delays.size()));
    vips_image_set_int(result.get(), "loop", loop);

    std::stop_callback kill(stop, [image = result.get()] { vips_image_set_kill(image, TRUE); });
    int status = -1;
    {
        CheckedVipsTarget file(destination);
        if (!file.target())
            throw SystemError::fromErrno(file.error(), QStringLiteral("Cannot write ") + destination);
        const VipsErrorWatch lostFailure;
        status = output == ImageOutput::gif
            ? vips_gifsave_target(result.get(), file.target(), "strip", TRUE, nullptr)
            : vips_webpsave_target(result.get(), file.target(), "Q", ImageWriter::vipsQuality(edit.quality),
                                   "strip", TRUE, nullptr);
        if (lostFailure.failed())
            status = -1;
        try {
            file.finish();
        } catch (const SystemError&) {
            vips_error_clear();
            QFile::remove(destination);
            throwIfCancelled(stop);
            throw;
        }
    }
    const QString log = status != 0 ? takeVipsError() : QString();
    if (status != 0 || stop.stop_requested()) {
        QFile::remove(destination);
        throwIfCancelled(stop);
        // Frames are decoded while they are written.
        if (ImageDecoder::isReadingFault(log) || !ImageDecoder::decodes(source))
            throw EngineError(ImageDecoder::damagedMessage(), log);
        throw EngineError(ImageWriter::writeFailedMessage(output), log);
    }
}

} // namespace qv
