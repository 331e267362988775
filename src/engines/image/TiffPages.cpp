#include "engines/image/TiffPages.h"

#include "engines/image/CheckedVipsTarget.h"
#include "engines/image/ImageDecoder.h"
#include "engines/image/ImageHeader.h"
#include "engines/image/ImageWriter.h"
#include "engines/image/VipsPixels.h"
#include "engines/image/VipsRuntime.h"
#include "model/CancellationError.h"
#include "model/EngineError.h"
#include "model/Progress.h"

#include <QFile>
#include <QFileInfo>

#include <vector>

namespace qv {

int TiffPages::count(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != QLatin1String("tif") && suffix != QLatin1String("tiff"))
        return 1;
    return std::max(1, imageFrameCount(path).value_or(1));
}

void TiffPages::write(const QString& source, int pages, const QString& destination,
                      const std::function<DecodedImage(const DecodedImage&)>& edit, const ImageWork& work,
                      std::optional<int> maxPixelSize)
{
    if (!ensureVips())
        throw EngineError(ImageWriter::writeFailedMessage(ImageOutput::tiff));
    std::vector<DecodedImage> edited;
    edited.reserve(size_t(pages));
    for (int page = 0; page < pages; ++page) {
        throwIfCancelled(work.stop);
        edited.push_back(edit(ImageDecoder::decode(source, maxPixelSize, page)));
        if (work.progress)
            reportProgress(0.8 * (page + 1) / pages, *work.progress);
    }
    std::vector<VipsImage*> images;
    for (const DecodedImage& image : edited) {
        VipsImage* pixels = vipsImage(image);
        VipsImage* first = images.empty() ? pixels : images.front();
        if (!pixels || pixels->Xsize != first->Xsize || pixels->Ysize != first->Ysize
            || pixels->Bands != first->Bands || pixels->BandFmt != first->BandFmt)
            throw EngineError(QStringLiteral("This TIFF's pages differ in size or colour, which one TIFF can't "
                                             "hold after this change"));
        images.push_back(pixels);
    }
    VipsImage* joined = nullptr;
    if (vips_arrayjoin(images.data(), &joined, int(images.size()), "across", 1, nullptr) != 0)
        throwNoMemory(QString::fromUtf8(vips_error_buffer()));
    VipsRef result(joined);
    const double dpi = edited.front().dpi();
    result = vipsStep(result.get(), [dpi](VipsImage* i, VipsImage** o) {
        return vips_copy(i, o, "xres", dpi / 25.4, "yres", dpi / 25.4, nullptr);
    });
    if (!result)
        throwNoMemory();
    vips_image_set_int(result.get(), VIPS_META_PAGE_HEIGHT, images.front()->Ysize);
    std::stop_callback kill(work.stop, [image = result.get()] { vips_image_set_kill(image, TRUE); });
    int status = -1;
    {
        CheckedVipsTarget file(destination);
        if (file.target())
            status = vips_tiffsave_target(result.get(), file.target(), "compression",
                                          VIPS_FOREIGN_TIFF_COMPRESSION_LZW, nullptr);
        try {
            file.finish();
        } catch (...) {
            vips_error_clear();
            QFile::remove(destination);
            throwIfCancelled(work.stop);
            throw;
        }
    }
    const QString log = status != 0 ? QString::fromUtf8(vips_error_buffer()) : QString();
    vips_error_clear();
    if (status != 0 || work.stop.stop_requested()) {
        QFile::remove(destination);
        throwIfCancelled(work.stop);
        throw EngineError(ImageWriter::writeFailedMessage(ImageOutput::tiff), log);
    }
}

} // namespace qv
