#include "engines/image/foreign/ImageDecoder.h"

#include "engines/image/foreign/HeifSequence.h"
#include "engines/image/foreign/HeifStrictCheck.h"
#include "engines/image/foreign/ImageHeader.h"
#include "engines/image/foreign/JpegPixels.h"
#include "engines/image/foreign/JpegStructure.h"
#include "engines/image/foreign/PsdStructure.h"
#include "engines/image/foreign/StoredSamples.h"
#include "engines/image/foreign/TiffStripDamage.h"
#include "engines/image/VipsPixels.h"
#include "engines/image/VipsRuntime.h"
#include "model/errors/EngineError.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <vector>

namespace qv {

namespace {

[[noreturn]] void fail(const QString& log = {})
{
    throw EngineError(ImageDecoder::damagedMessage(), log);
}

QByteArray blob(VipsImage* image, const char* name)
{
    if (!vips_image_get_typeof(image, name))
        return {};
    const void* data = nullptr;
    size_t length = 0;
    if (vips_image_get_blob(image, name, &data, &length) != 0 || !data) {
        vips_error_clear();
        return {};
    }
    return QByteArray(static_cast<const char*>(data), qsizetype(length));
}

// libvips' resolution when the file states none is 1 pixel per millimetre.
std::optional<double> statedDpi(double pixelsPerMillimetre)
{
    if (!(pixelsPerMillimetre > 0) || std::abs(pixelsPerMillimetre - 1.0) < 1e-9)
        return std::nullopt;
    // Files store pixels per metre or per inch in whole numbers: 2835 per metre is 72 dpi.
    return std::round(pixelsPerMillimetre * 254.0) / 10.0;
}

ImageProperties readProperties(VipsImage* image)
{
    ImageProperties properties;
    properties.dpiWidth = statedDpi(image->Xres);
    properties.dpiHeight = statedDpi(image->Yres);
    if (vips_image_get_typeof(image, VIPS_META_ORIENTATION)) {
        int orientation = 1;
        if (vips_image_get_int(image, VIPS_META_ORIENTATION, &orientation) == 0)
            properties.orientation = orientation;
        vips_error_clear();
    }
    properties.exif = blob(image, VIPS_META_EXIF_NAME);
    properties.iptc = blob(image, VIPS_META_IPTC_NAME);
    properties.xmp = blob(image, VIPS_META_XMP_NAME);
    return properties;
}

const char* const sourceField = "quorvenda-source";

// A shrunk JPEG is decoded into memory up to this size; a larger one streams through libvips.
constexpr qint64 jpegInMemoryBytes = qint64(256) << 20;

bool loaderIs(const QByteArray& native, const char* name)
{
    const char* loader = vips_foreign_find_load(native.constData());
    if (!loader) {
        vips_error_clear();
        return false;
    }
    return qstrcmp(loader, name) == 0;
}

bool isJpegLoader(const QByteArray& native)
{
    return loaderIs(native, "VipsForeignLoadJpegFile");
}

// libjpeg reports corrupt data only as warnings, and libnsgif a frame it cannot read, which
// libvips then leaves out with every frame after it; every other decoder's warnings are mostly
// about harmless oddities (unknown TIFF tags, sRGB profiles), so only its errors count.
VipsFailOn failLevel(const QByteArray& native)
{
    return isJpegLoader(native) || loaderIs(native, "VipsForeignLoadNsgifFile") ? VIPS_FAIL_ON_WARNING
                                                                               : VIPS_FAIL_ON_ERROR;
}

bool isHeifLoader(const QByteArray& native)
{
    if (HeifSequence::holdsPrimaryImage(native))
        return true;
    const char* loader = vips_foreign_find_load(native.constData());
    if (!loader) {
        vips_error_clear();
        return false;
    }
    return qstrcmp(loader, "VipsForeignLoadHeifFile") == 0;
}

// libheif, under libvips, fills what it cannot decode with black and says so only in a warning.
void checkHeif(const QByteArray& native, int index)
{
    if (!isHeifLoader(native))
        return;
    if (const std::optional<QString> problem = HeifStrictCheck::problem(QFile::decodeName(native), index))
        fail(QStringLiteral("libheif: ") + *problem);
}

bool isJpeg2000Loader(const QByteArray& native)
{
    const char* loader = vips_foreign_find_load(native.constData());
    if (!loader) {
        vips_error_clear();
        return false;
    }
    return qstrcmp(loader, "VipsForeignLoadJp2kFile") == 0;
}

// Each band's minimum, maximum and sum over a whole decode of the image: sums of integer
// samples are exact whatever order the threads add them in.
std::optional<std::vector<double>> decodedStatistics(const QByteArray& native, int index)
{
    VipsImage* image = index > 0 ? vips_image_new_from_file(native.constData(), "access", VIPS_ACCESS_SEQUENTIAL,
                                                            "page", index, nullptr)
                                 : vips_image_new_from_file(native.constData(), "access", VIPS_ACCESS_SEQUENTIAL,
                                                            nullptr);
    if (!image)
        return std::nullopt;
    VipsRef opened(image);
    VipsImage* stats = nullptr;
    if (vips_stats(image, &stats, nullptr) != 0)
        return std::nullopt;
    VipsRef table(stats);
    size_t size = 0;
    void* memory = vips_image_write_to_memory(stats, &size);
    if (!memory)
        return std::nullopt;
    const double* cells = static_cast<const double*>(memory);
    std::vector<double> kept;
    const int columns = stats->Xsize;
    for (int row = 0; row < stats->Ysize; ++row)
        for (int column = 0; column < 3; ++column)
            kept.push_back(cells[row * columns + column]);
    g_free(memory);
    return kept;
}

// OpenJPEG reads past what it filled on some damaged files: the pixels it gives are then
// memory of its own, other at every decode, and no error is said. Two decodes that differ tell.
void checkSteadyDecode(const QByteArray& native, int index)
{
    if (!isJpeg2000Loader(native))
        return;
    const std::optional<std::vector<double>> first = decodedStatistics(native, index);
    const std::optional<std::vector<double>> second = first ? decodedStatistics(native, index) : std::nullopt;
    if (!first || !second)
        fail(takeVipsError());
    if (*first != *second)
        fail(QStringLiteral("Two decodes of the file gave different pixels"));
}

// libtiff says a strip it could not decode whole only in a warning, and fills the rest.
void checkTiffStrips(const QByteArray& native, int index)
{
    if (!TiffStripDamage::isTiff(native))
        return;
    if (const std::optional<QString> problem = TiffStripDamage::problem(native, index))
        fail(QStringLiteral("libtiff: ") + *problem);
}

// ImageMagick leaves what it cannot fill of a damaged Photoshop file as whatever memory it got,
// other in every process: such a file is refused before it is handed over.
void checkPsd(const QByteArray& native)
{
    const QString path = QFile::decodeName(native);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !PsdStructure::isPsd(file.read(4)))
        return;
    if (const std::optional<QString> problem = PsdStructure::faultOfFile(path))
        fail(QStringLiteral("Photoshop file: ") + *problem);
}

// The pixels are decoded only when they are written; the file's path travels with them so a
// writer can tell a decoding fault from a writing one.
void tagSource(VipsImage* image, const QString& path)
{
    vips_image_set_string(image, sourceField, QFile::encodeName(path).constData());
}

// The header of one image of the file; reading it decodes no pixel.
VipsRef openImage(const QByteArray& native, int index)
{
    checkPsd(native);
    const VipsFailOn level = failLevel(native);
    VipsImage* image = nullptr;
    if (HeifSequence::holdsPrimaryImage(native)) {
        if (vips_heifload(native.constData(), &image, "access", VIPS_ACCESS_SEQUENTIAL, "fail_on", level, "page",
                          index, nullptr)
            != 0)
            image = nullptr;
    } else {
        image = index > 0 ? vips_image_new_from_file(native.constData(), "access", VIPS_ACCESS_SEQUENTIAL, "fail_on",
                                                     level, "page", index, nullptr)
                          : vips_image_new_from_file(native.constData(), "access", VIPS_ACCESS_SEQUENTIAL, "fail_on",
                                                     level, nullptr);
    }
    if (!image)
        fail(takeVipsError());
    VipsRef opened(image);
    checkHeif(native, index);
    checkSteadyDecode(native, index);
    if (StoredSamples::needCorrection(native, opened.get())) {
        QString log;
        opened = StoredSamples::corrected(native, opened.get(), &log);
        if (!opened)
            fail(log);
    }
    tagSource(opened.get(), QFile::decodeName(native));
    return opened;
}

bool isSvg(const QString& path)
{
    return isSvgName(path);
}

// A source read from the SVG file, dropped with the last image made from it.
struct SourceRef {
    explicit SourceRef(VipsSource* source) : source(source) {}
    ~SourceRef()
    {
        if (source)
            g_object_unref(source);
    }
    SourceRef(const SourceRef&) = delete;
    SourceRef& operator=(const SourceRef&) = delete;
    VipsSource* source;
};

} // namespace

QString ImageDecoder::damagedMessage()
{
    return QStringLiteral("This file is damaged or not in a supported format");
}

DecodedImage ImageDecoder::decode(const QString& path, std::optional<int> maxPixelSize, int index)
{
    if (maxPixelSize && *maxPixelSize < 1)
        maxPixelSize.reset();
    if (isSvg(path)) {
        if (index != 0)
            fail();
        return decodeSVG(path, maxPixelSize);
    }
    requireVips();
    if (!ensureVipsToRead(path) || index < 0)
        fail();
    const QByteArray native = QFile::encodeName(path);
    VipsRef first = openImage(native, 0);
    if (index >= vips_image_get_n_pages(first.get()))
        fail(QStringLiteral("image %1 of %2").arg(index).arg(vips_image_get_n_pages(first.get())));
    VipsRef header = index == 0 ? std::move(first) : openImage(native, index);
    checkTiffStrips(native, index);
    const ImageProperties properties = readProperties(header.get());
    int width = header->Xsize;
    int height = header->Ysize;
    if (vips_image_get_typeof(header.get(), VIPS_META_PAGE_HEIGHT)) {
        int pageHeight = 0;
        if (vips_image_get_int(header.get(), VIPS_META_PAGE_HEIGHT, &pageHeight) == 0 && pageHeight > 0)
            height = pageHeight;
        vips_error_clear();
    }
    if (width < 1 || height < 1)
        fail();
    const int longest = std::max(width, height);
    const int orientation = properties.orientation.value_or(1);
    const bool turned = properties.orientation && orientation != 1;
    const double dpi = properties.dpiWidth.value_or(72.0);

    if (!turned && !(maxPixelSize && *maxPixelSize < longest)) {
        // Only one page of a multi-page file: cut it out of the strip libvips loads.
        if (height != header->Ysize) {
            VipsRef page = vipsStep(header.get(), [&](VipsImage* in, VipsImage** out) {
                return vips_crop(in, out, 0, 0, width, height, nullptr);
            });
            if (!page)
                fail();
            return decodedFromVips(page.release(), properties, dpi);
        }
        return decodedFromVips(header.release(), properties, dpi);
    }
    const int size = std::max(1, std::min(longest, maxPixelSize.value_or(longest)));
    if (index == 0 && isJpegLoader(native)) {
        // One decode that checks the file whole, shrunk on load as libvips' thumbnail would.
        const int shrink = JpegPixels::loadShrink(double(longest) / size);
        if (VipsRef pixels{JpegPixels::decode(path, shrink, header.get(), jpegInMemoryBytes)}) {
            VipsImage* thumbnail = nullptr;
            if (vips_thumbnail_image(pixels.get(), &thumbnail, size, "height", size, "size", VIPS_SIZE_DOWN,
                                     nullptr)
                != 0)
                fail(takeVipsError());
            tagSource(thumbnail, path);
            return decodedFromVips(thumbnail, properties, dpi);
        }
        // libvips' loader shrunk while it loads passes over most damage without a word; what
        // the one decode does not take is checked first.
        verify(path);
    }
    // Samples put right after loading are shrunk from the image that holds them so.
    const bool corrected = StoredSamples::wasCorrected(header.get());
    header.reset();
    // The thumbnail takes loader options only in the name.
    const QByteArray name = index > 0 ? native + "[page=" + QByteArray::number(index) + "]" : native;
    VipsImage* thumbnail = nullptr;
    if (corrected || HeifSequence::holdsPrimaryImage(native)) {
        VipsRef whole = openImage(native, index);
        if (vips_thumbnail_image(whole.get(), &thumbnail, size, "height", size, "size", VIPS_SIZE_DOWN, nullptr) != 0)
            fail(takeVipsError());
    } else if (vips_thumbnail(name.constData(), &thumbnail, size, "height", size, "size", VIPS_SIZE_DOWN,
                              "fail_on", failLevel(native), nullptr)
               != 0) {
        fail(takeVipsError());
    }
    tagSource(thumbnail, path);
    // The thumbnail keeps the file's own resolution figures; the properties stay as stated.
    return decodedFromVips(thumbnail, properties, dpi);
}

DecodedImage ImageDecoder::decodeSVG(const QString& path, std::optional<int> maxPixelSize)
{
    if (maxPixelSize && *maxPixelSize < 1)
        maxPixelSize.reset();
    requireVips();
    if (!ensureVips())
        fail();
    VipsImage* nominal = nullptr;
    {
        const SourceRef source(svgSource(path));
        if (!source.source || vips_svgload_source(source.source, &nominal, nullptr) != 0)
            fail(takeVipsError());
    }
    const int width = nominal->Xsize;
    const int height = nominal->Ysize;
    g_object_unref(nominal);
    if (width < 1 || height < 1)
        fail();
    double scale = 2.0;
    if (maxPixelSize)
        scale = std::min(2.0, double(*maxPixelSize) / std::max(width, height));
    VipsImage* drawn = nullptr;
    const SourceRef source(svgSource(path));
    if (!source.source
        || vips_svgload_source(source.source, &drawn, "scale", scale, "access", VIPS_ACCESS_SEQUENTIAL, nullptr) != 0)
        fail(takeVipsError());
    ImageProperties properties;
    properties.dpiWidth = 72.0 * scale;
    properties.dpiHeight = 72.0 * scale;
    drawn->Xres = drawn->Yres = 72.0 * scale / 25.4;
    tagSource(drawn, path);
    return decodedFromVips(drawn, properties, 72.0 * scale);
}

void ImageDecoder::verify(const QString& path)
{
    if (isSvg(path)) {
        verifyPixels(decodeSVG(path));
        return;
    }
    requireVips();
    if (!ensureVipsToRead(path))
        fail();
    const QByteArray native = QFile::encodeName(path);
    checkPsd(native);
    // Shrink-on-load is not used: libjpeg's warnings about damage then come and go.
    VipsImage* opened = nullptr;
    if (HeifSequence::holdsPrimaryImage(native)) {
        if (vips_heifload(native.constData(), &opened, "access", VIPS_ACCESS_SEQUENTIAL, "fail_on", failLevel(native),
                          nullptr)
            != 0)
            opened = nullptr;
    } else {
        opened = vips_image_new_from_file(native.constData(), "access", VIPS_ACCESS_SEQUENTIAL, "fail_on",
                                          failLevel(native), nullptr);
    }
    VipsRef image(opened);
    if (!image)
        fail(takeVipsError());
    // A JPEG's damage is all in its structure and entropy-coded data, which libjpeg reads
    // without making pixels; a decode that stops at the last row even misses damage past it.
    if (isJpegLoader(native)) {
        JpegStructure::check(path);
        return;
    }
    // A TIFF's whole decode is the one that listens for its decoder's warnings.
    if (TiffStripDamage::isTiff(native)) {
        checkTiffStrips(native, 0);
        return;
    }
    double average = 0;
    if (vips_avg(image.get(), &average, nullptr) != 0)
        fail(takeVipsError());
    checkHeif(native, 0);
    checkSteadyDecode(native, 0);
}

void ImageDecoder::verifyPixels(const DecodedImage& image)
{
    VipsImage* pixels = vipsImage(image);
    double average = 0;
    if (!pixels || vips_avg(pixels, &average, nullptr) != 0)
        fail(takeVipsError());
}

QString ImageDecoder::sourceFile(const DecodedImage& image)
{
    VipsImage* pixels = vipsImage(image);
    const char* path = nullptr;
    if (!pixels || !vips_image_get_typeof(pixels, sourceField)
        || vips_image_get_string(pixels, sourceField, &path) != 0 || !path) {
        vips_error_clear();
        return {};
    }
    return QFile::decodeName(path);
}

bool ImageDecoder::isReadingFault(const QString& log)
{
    const QString lower = log.toLower();
    static const char* const faults[] = {"load", "2vips", "read error", "truncated",
                                         "premature end", "corrupt", "crc error", "not enough data",
                                         "unable to read", "unable to parse", "unable to decode",
                                         // libvips' word for a file shorter than its header says
                                         "memory area too small"};
    return std::any_of(std::begin(faults), std::end(faults),
                       [&](const char* fault) { return lower.contains(QLatin1String(fault)); });
}

bool ImageDecoder::decodes(const QString& path)
{
    try {
        verify(path);
        return true;
    } catch (const EngineError&) {
        return false;
    }
}

QSize ImageDecoder::pixelSize(const QString& path)
{
    if (isSvg(path)) {
        const DecodedImage image = decodeSVG(path);
        return QSize(image.width(), image.height());
    }
    const std::optional<QSize> size = imagePixelSize(path);
    if (!size)
        fail();
    return *size;
}

int ImageDecoder::sourceOrientation(const QString& path)
{
    if (!ensureVipsToRead(path))
        return 1;
    const QByteArray native = QFile::encodeName(path);
    VipsRef image(vips_image_new_from_file(native.constData(), "access", VIPS_ACCESS_SEQUENTIAL, nullptr));
    if (!image) {
        vips_error_clear();
        return 1;
    }
    return readProperties(image.get()).orientation.value_or(1);
}

} // namespace qv
