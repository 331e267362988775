#include "engines/image/foreign/TiffPages.h"

#include "engines/image/foreign/ImageDecoder.h"
#include "engines/image/foreign/ImageHeader.h"
#include "engines/image/foreign/ImageWriter.h"
#include "engines/image/foreign/TiffPageChain.h"
#include "engines/image/VipsPixels.h"
#include "engines/image/VipsRuntime.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/operations/Progress.h"

#include <QFile>
#include <QFileInfo>


namespace qv {

int TiffPages::count(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != QLatin1String("tif") && suffix != QLatin1String("tiff"))
        return 1;
    return std::max(1, imageFrameCount(path).value_or(1));
}

namespace {

// Whether the pages together may outgrow a classic TIFF's 4 GB, from their headers: their
// pixels as stored, with room for compression that grows noise.
bool needsBigTiff(const QString& source, int pages)
{
    const QByteArray name = QFile::encodeName(source);
    double bytes = 0;
    for (int page = 0; page < pages; ++page) {
        VipsRef header(vips_image_new_from_file(name.constData(), "page", page, nullptr));
        vips_error_clear();
        if (header)
            bytes += double(VIPS_IMAGE_SIZEOF_IMAGE(header.get()));
    }
    return bytes > 2.5 * 1024 * 1024 * 1024;
}

// One page as a TIFF of its own, in memory.
QByteArray encodedPage(const DecodedImage& image, bool bare, bool bigTiff)
{
    VipsRef page = vipsStep(vipsImage(image), [dpi = image.dpi()](VipsImage* i, VipsImage** o) {
        return vips_copy(i, o, "xres", dpi / 25.4, "yres", dpi / 25.4, nullptr);
    });
    if (!page)
        throwNoMemory();
    if (gchar** fields = vips_image_get_fields(page.get())) {
        for (gchar** field = fields; *field; ++field) {
            // The page stands alone here; with bare, only its colour profile stays.
            const bool paging = qstrcmp(*field, VIPS_META_PAGE_HEIGHT) == 0 || qstrcmp(*field, VIPS_META_N_PAGES) == 0;
            if (paging || (bare && qstrcmp(*field, VIPS_META_ICC_NAME) != 0))
                vips_image_remove(page.get(), *field);
        }
        g_strfreev(fields);
    }
    void* data = nullptr;
    size_t length = 0;
    const VipsErrorWatch lostFailure;
    if (vips_tiffsave_buffer(page.get(), &data, &length, "compression", VIPS_FOREIGN_TIFF_COMPRESSION_LZW,
                             "bigtiff", bigTiff, nullptr)
            != 0
        || lostFailure.failed()) {
        g_free(data);
        throwStepFailure(takeVipsError());
    }
    QByteArray bytes(static_cast<const char*>(data), qsizetype(length));
    g_free(data);
    return bytes;
}

} // namespace

void TiffPages::write(const QString& source, int pages, const QString& destination,
                      const std::function<DecodedImage(const DecodedImage&)>& edit, const ImageWork& work,
                      std::optional<int> maxPixelSize, bool bare)
{
    requireVips();
    if (!ensureVips())
        throw EngineError(ImageWriter::writeFailedMessage(ImageOutput::tiff));
    const bool bigTiff = needsBigTiff(source, pages);
    try {
        // Page by page, so one decoded page is held at a time, each at its own size.
        TiffPageChain chain(destination);
        for (int page = 0; page < pages; ++page) {
            throwIfCancelled(work.stop);
            const DecodedImage edited = edit(ImageDecoder::decode(source, maxPixelSize, page));
            chain.append(encodedPage(edited, bare, bigTiff));
            if (work.progress)
                reportProgress(double(page + 1) / pages, *work.progress);
        }
        chain.finish();
        throwIfCancelled(work.stop);
    } catch (...) {
        vips_error_clear();
        QFile::remove(destination);
        throw;
    }
}

} // namespace qv
