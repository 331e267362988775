#include "engines/image/foreign/WebPWriter.h"

#include "engines/image/VipsPixels.h"

#include <QFile>

#include <malloc.h>

#include <webp/encode.h>

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstring>
#include <vector>

namespace qv {

namespace {

// WebP's largest side.
constexpr int kMaxSide = 16383;
// Rows converted to YUV at a time; even, so that chroma rows never straddle two strips.
constexpr int kStripRows = 16;

void putLE(QByteArray& bytes, quint32 value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes.append(char((value >> (8 * i)) & 0xff));
}

QByteArray chunk(const char* fourcc, const QByteArray& payload)
{
    QByteArray bytes(fourcc, 4);
    putLE(bytes, quint32(payload.size()), 4);
    bytes.append(payload);
    if (payload.size() % 2)
        bytes.append('\0');
    return bytes;
}

// The file the encoder's bytes go to, as they come. With metadata, the encoder's RIFF header
// and its VP8X chunk (written only for alpha) are replaced by ours, which name the ICC and
// EXIF chunks too, and the RIFF size is set once the EXIF chunk ends the file.
class Sink {
public:
    Sink(const QString& path, QByteArray icc, QByteArray exif, QByteArray xmp)
        : m_file(path), m_icc(std::move(icc)), m_exif(std::move(exif)), m_xmp(std::move(xmp))
    {
        m_rewrite = !m_icc.isEmpty() || !m_exif.isEmpty() || !m_xmp.isEmpty();
    }

    bool open() { return m_file.open(QIODevice::WriteOnly | QIODevice::Truncate); }

    bool take(const uint8_t* data, size_t size, int width, int height)
    {
        if (!m_rewrite || m_passing)
            return put(reinterpret_cast<const char*>(data), qint64(size));
        m_head.append(reinterpret_cast<const char*>(data), qsizetype(size));
        // RIFF header (12 bytes), then either VP8X (18 bytes) or the image's first chunk.
        if (m_head.size() < 16)
            return true;
        const bool hasVp8x = m_head.mid(12, 4) == "VP8X";
        if (hasVp8x && m_head.size() < 30)
            return true;
        const bool alpha = hasVp8x && (quint8(m_head.at(20)) & 0x10);
        m_passing = true;
        const QByteArray rest = m_head.mid(hasVp8x ? 30 : 12);
        m_head.clear();
        return put(header(width, height, alpha)) && put(rest);
    }

    // Ends the file: the EXIF and XMP chunks and the RIFF size when rewritten; checks every
    // byte went.
    bool finish()
    {
        if (m_rewrite) {
            if (!m_passing || (!m_exif.isEmpty() && !put(chunk("EXIF", m_exif)))
                || (!m_xmp.isEmpty() && !put(chunk("XMP ", m_xmp))))
                return false;
            const qint64 size = m_file.pos();
            QByteArray riffSize;
            putLE(riffSize, quint32(size - 8), 4);
            if (!m_file.seek(4) || !put(riffSize) || !m_file.seek(size))
                return false;
        }
        if (!m_file.flush())
            return false;
        m_file.close();
        return m_file.error() == QFileDevice::NoError;
    }

    // What the file system said of a write that failed ("No space left on device"); empty when
    // none did.
    QString writeError() const
    {
        if (!m_writeError.isEmpty())
            return m_writeError;
        return m_file.error() == QFileDevice::NoError ? QString() : m_file.errorString();
    }

private:
    bool put(const char* data, qint64 size)
    {
        errno = 0;
        const qint64 written = m_file.write(data, size);
        if (written == size)
            return true;
        // Qt 6.4 gives a short count on a full disk and sets no error: the failed call's errno
        // is still there.
        const int error = errno;
        m_writeError = error != 0 ? QString::fromLocal8Bit(std::strerror(error))
                                  : QStringLiteral("only %1 of %2 bytes were written").arg(written).arg(size);
        return false;
    }
    bool put(const QByteArray& bytes) { return put(bytes.constData(), bytes.size()); }

    QByteArray header(int width, int height, bool alpha) const
    {
        QByteArray vp8x;
        quint32 flags = 0;
        if (!m_icc.isEmpty())
            flags |= 0x20;
        if (alpha)
            flags |= 0x10;
        if (!m_exif.isEmpty())
            flags |= 0x08;
        if (!m_xmp.isEmpty())
            flags |= 0x04;
        putLE(vp8x, flags, 4);
        putLE(vp8x, quint32(width - 1), 3);
        putLE(vp8x, quint32(height - 1), 3);
        QByteArray bytes("RIFF", 4);
        putLE(bytes, 0, 4);
        bytes.append("WEBP", 4);
        bytes.append(chunk("VP8X", vp8x));
        if (!m_icc.isEmpty())
            bytes.append(chunk("ICCP", m_icc));
        return bytes;
    }

    QFile m_file;
    QString m_writeError;
    QByteArray m_icc;
    QByteArray m_exif;
    QByteArray m_xmp;
    bool m_rewrite = false;
    bool m_passing = false;
    QByteArray m_head;
};

struct Writing {
    Sink* sink = nullptr;
    int width = 0;
    int height = 0;
    std::stop_token stop;
};

int writeBytes(const uint8_t* data, size_t size, const WebPPicture* picture)
{
    auto* writing = static_cast<Writing*>(picture->custom_ptr);
    return writing->sink->take(data, size, writing->width, writing->height) ? 1 : 0;
}

// The encoder asks between rows of macroblocks whether to go on.
int goOn(int, const WebPPicture* picture)
{
    return static_cast<const Writing*>(picture->custom_ptr)->stop.stop_requested() ? 0 : 1;
}

// Fills the encoder's YUV picture from strips of RGB(A) rows as libvips computes them, in
// order; each full strip is converted by libwebp's own importer, as a whole picture would be.
struct Filling {
    WebPPicture* picture = nullptr;
    int bands = 3;
    std::vector<uint8_t> strip;
    int stripTop = 0;
    int stripRows = 0;
    WebPPicture part{};
    bool failed = false;

    bool flush()
    {
        if (stripRows == 0)
            return true;
        const int width = picture->width;
        part.width = width;
        part.height = stripRows;
        const int stride = width * bands;
        const int ok = bands == 4 ? WebPPictureImportRGBA(&part, strip.data(), stride)
                                  : WebPPictureImportRGB(&part, strip.data(), stride);
        if (!ok)
            return false;
        for (int y = 0; y < stripRows; ++y)
            std::memcpy(picture->y + std::size_t(stripTop + y) * std::size_t(picture->y_stride),
                        part.y + std::size_t(y) * std::size_t(part.y_stride), std::size_t(width));
        const int chromaWidth = (width + 1) / 2;
        for (int y = 0; y < (stripRows + 1) / 2; ++y) {
            const std::size_t row = std::size_t(stripTop / 2 + y) * std::size_t(picture->uv_stride);
            std::memcpy(picture->u + row, part.u + std::size_t(y) * std::size_t(part.uv_stride),
                        std::size_t(chromaWidth));
            std::memcpy(picture->v + row, part.v + std::size_t(y) * std::size_t(part.uv_stride),
                        std::size_t(chromaWidth));
        }
        if (picture->a) {
            for (int y = 0; y < stripRows; ++y) {
                uint8_t* to = picture->a + std::size_t(stripTop + y) * std::size_t(picture->a_stride);
                // A strip whose pixels are all opaque comes back without an alpha plane.
                if (part.a)
                    std::memcpy(to, part.a + std::size_t(y) * std::size_t(part.a_stride), std::size_t(width));
                else
                    std::memset(to, 0xff, std::size_t(width));
            }
        }
        stripTop += stripRows;
        stripRows = 0;
        return true;
    }
};

int fillRows(VipsRegion* region, VipsRect* area, void* data)
{
    auto* filling = static_cast<Filling*>(data);
    const std::size_t rowBytes = std::size_t(area->width) * std::size_t(filling->bands);
    for (int y = area->top; y < area->top + area->height; ++y) {
        std::memcpy(filling->strip.data() + std::size_t(filling->stripRows) * rowBytes,
                    VIPS_REGION_ADDR(region, area->left, y), rowBytes);
        if (++filling->stripRows == kStripRows && !filling->flush()) {
            filling->failed = true;
            vips_error("webpsave", "out of memory");
            return -1;
        }
    }
    return 0;
}

// 8-bit RGB or RGBA, as the encoder takes it.
VipsRef encodable(VipsImage* in)
{
    VipsRef out = vipsStep(in, [](VipsImage* i, VipsImage** o) { return vips_copy(i, o, nullptr); });
    // A coded picture (a TIFF's CIELAB) is decoded, and one of another colour space (Lab, CMYK)
    // turned to sRGB: its bands are no RGB for the encoder to take as they come.
    if (out && out->Coding != VIPS_CODING_NONE)
        out = vipsStep(out.get(), [](VipsImage* i, VipsImage** o) { return vips_image_decode(i, o); });
    if (out && (out->Bands < 3 || out->BandFmt != VIPS_FORMAT_UCHAR
                || (out->Type != VIPS_INTERPRETATION_sRGB && vips_colourspace_issupported(out.get()))))
        out = vipsStep(out.get(), [](VipsImage* i, VipsImage** o) {
            return vips_colourspace(i, o, VIPS_INTERPRETATION_sRGB, nullptr);
        });
    if (out && out->BandFmt != VIPS_FORMAT_UCHAR)
        out = vipsStep(out.get(), [](VipsImage* i, VipsImage** o) {
            return vips_cast(i, o, VIPS_FORMAT_UCHAR, nullptr);
        });
    if (out && out->Bands > 4)
        out = vipsStep(out.get(), [](VipsImage* i, VipsImage** o) {
            return vips_extract_band(i, o, 0, "n", 4, nullptr);
        });
    return out;
}

QByteArray blob(VipsImage* image, const char* name)
{
    const void* data = nullptr;
    size_t length = 0;
    if (!vips_image_get_typeof(image, name) || vips_image_get_blob(image, name, &data, &length) != 0 || !data) {
        vips_error_clear();
        return {};
    }
    return QByteArray(static_cast<const char*>(data), qsizetype(length));
}

const char* encodeError(WebPEncodingError error)
{
    switch (error) {
    case VP8_ENC_ERROR_OUT_OF_MEMORY:
    case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY: return "out of memory";
    case VP8_ENC_ERROR_BAD_WRITE: return "write failed";
    case VP8_ENC_ERROR_BAD_DIMENSION: return "picture too large";
    case VP8_ENC_ERROR_USER_ABORT: return "cancelled";
    default: return "encoding failed";
    }
}

} // namespace

int WebPWriter::save(_VipsImage* image, const char* path, int quality, bool lowMemory, std::stop_token stop)
{
    VipsRef ready = encodable(image);
    if (!ready) {
        vips_error("webpsave", "out of memory");
        return -1;
    }
    const int width = ready->Xsize;
    const int height = ready->Ysize;
    if (width > kMaxSide || height > kMaxSide) {
        vips_error("webpsave", "picture too large");
        return -1;
    }
    const int bands = ready->Bands;

    WebPConfig config;
    if (!WebPConfigInit(&config)) {
        vips_error("webpsave", "libwebp version mismatch");
        return -1;
    }
    config.quality = float(std::clamp(quality, 1, 100));
    config.low_memory = lowMemory ? 1 : 0;

    WebPPicture picture;
    WebPPictureInit(&picture);
    picture.use_argb = 0;
    picture.width = width;
    picture.height = height;
    picture.colorspace = bands == 4 ? WEBP_YUV420A : WEBP_YUV420;
    struct FreePicture {
        WebPPicture* picture;
        ~FreePicture() { WebPPictureFree(picture); }
    } freePicture{&picture};
    if (!WebPPictureAlloc(&picture)) {
        vips_error("webpsave", "out of memory");
        return -1;
    }

    Filling filling;
    filling.picture = &picture;
    filling.bands = bands;
    WebPPictureInit(&filling.part);
    filling.part.use_argb = 0;
    struct FreePart {
        WebPPicture* picture;
        ~FreePart() { WebPPictureFree(picture); }
    } freePart{&filling.part};
    try {
        filling.strip.resize(std::size_t(kStripRows) * std::size_t(width) * std::size_t(bands));
    } catch (const std::bad_alloc&) {
        vips_error("webpsave", "out of memory");
        return -1;
    }
    if (vips_sink_disc(ready.get(), fillRows, &filling) != 0)
        return -1;
    if (!filling.flush()) {
        vips_error("webpsave", "out of memory");
        return -1;
    }
    filling.strip = {};
    WebPPictureFree(&filling.part);

    QByteArray exif = blob(ready.get(), VIPS_META_EXIF_NAME);
    // WebP's EXIF chunk starts at the TIFF header, without JPEG's marker name.
    if (exif.startsWith(QByteArray("Exif\0\0", 6)))
        exif.remove(0, 6);
    Sink sink(QString::fromLocal8Bit(path), blob(ready.get(), VIPS_META_ICC_NAME), exif,
              blob(ready.get(), VIPS_META_XMP_NAME));
    ready.reset();
    if (!sink.open()) {
        vips_error("webpsave", "unable to open for write");
        return -1;
    }
    Writing writing{&sink, width, height, std::move(stop)};
    picture.writer = writeBytes;
    picture.progress_hook = goOn;
    picture.custom_ptr = &writing;
    // A write the disk refused says why, whatever the encoder made of it.
    if (!WebPEncode(&config, &picture)) {
        const QString refused = sink.writeError();
        if (!refused.isEmpty())
            vips_error("webpsave", "write failed: %s", refused.toUtf8().constData());
        else
            vips_error("webpsave", "%s", encodeError(picture.error_code));
        return -1;
    }
    if (!sink.finish()) {
        vips_error("webpsave", "write failed: %s", sink.writeError().toUtf8().constData());
        return -1;
    }
    WebPPictureFree(&picture);
    // The encoder's buffers, freed, would stay with the process for the next item, outside
    // what the batch's memory budget counts.
    ::malloc_trim(0);
    return 0;
}

qint64 WebPWriter::memoryNeed(qint64 width, qint64 height, bool alpha, qint64 sourceBytes, bool lowMemory)
{
    const qint64 pixels = std::max<qint64>(width, 0) * std::max<qint64>(height, 0);
    if (pixels == 0)
        return 0;
    // Measured on 24 megapixels at quality 85: Gaussian noise in JPEGs of 0.37, 0.50 and 0.64
    // bytes a pixel left 5.6, 7.7 and 10.8 bytes a pixel of tokens; photos of 0.07 to 0.25
    // bytes a pixel about 0.8. A source of unknown density counts as the busiest noise.
    constexpr double busiest = 0.64;
    const double density = sourceBytes > 0 ? std::min(double(sourceBytes) / double(pixels), 1.0) : busiest;
    const double tokens = lowMemory ? 0.0 : std::clamp(21.0 * density - 2.5, 0.8, 14.0);
    // The encoded partitions stay in memory until the end, about 0.8 of a JPEG's bytes, and
    // grow by doubling: up to three times that while one is copied.
    const double output = std::min(2.5 * density, 3.0);
    // The YUV picture (with its alpha plane).
    const double picture = alpha ? 2.5 : 1.5;
    // libvips' decoding strips, the encoder's rows and what a worker process holds besides:
    // in batches of 24-megapixel pictures each worker came to up to 104 MB for noise in
    // low-memory mode and 84 to 98 MB for photos in full mode.
    constexpr qint64 working = qint64(30) << 20;
    return qint64(double(pixels) * (picture + output + tokens)) + working;
}

qint64 WebPWriter::sourceBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray head = file.read(12);
    if (head.startsWith("\xff\xd8\xff"))
        return file.size();
    if (!head.startsWith("RIFF") || head.mid(8, 4) != "WEBP")
        return 0;
    // The picture's chunk follows the extended header and any profile: lossy "VP8 " or
    // lossless "VP8L".
    for (int chunks = 0; chunks < 8; ++chunks) {
        const QByteArray header = file.read(8);
        if (header.size() < 8)
            return 0;
        const QByteArray fourcc = header.left(4);
        if (fourcc == "VP8 ")
            return file.size();
        if (fourcc == "VP8L" || fourcc == "ANMF")
            return 0;
        const quint32 size = quint8(header[4]) | quint8(header[5]) << 8 | quint8(header[6]) << 16
            | quint32(quint8(header[7])) << 24;
        if (!file.seek(file.pos() + qint64(size) + (size % 2)))
            return 0;
    }
    return 0;
}

bool WebPWriter::lowMemoryPays(qint64 width, qint64 height, bool alpha, qint64 sourceBytes, qint64 budgetBytes,
                               int lanes)
{
    if (budgetBytes <= 0 || lanes < 2)
        return false;
    const qint64 fullNeed = memoryNeed(width, height, alpha, sourceBytes, false);
    const qint64 lowNeed = memoryNeed(width, height, alpha, sourceBytes, true);
    if (fullNeed <= 0 || lowNeed <= 0)
        return false;
    const qint64 fullAtOnce = std::clamp<qint64>(budgetBytes / fullNeed, 1, lanes);
    const qint64 lowAtOnce = std::clamp<qint64>(budgetBytes / lowNeed, 1, lanes);
    // The statistics pass costs up to as much again as the encoding, more on noise.
    return lowAtOnce > 2 * fullAtOnce;
}

} // namespace qv
