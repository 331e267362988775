#include "engines/image/foreign/StoredSamples.h"

#include <QFile>
#include <QtEndian>

#include <mutex>
#include <optional>

namespace qv {

namespace {

const char* const correctedField = "quorvenda-samples-corrected";

QByteArray loaderOf(VipsImage* image)
{
    const char* loader = nullptr;
    if (!image || !vips_image_get_typeof(image, "vips-loader") || vips_image_get_string(image, "vips-loader", &loader) != 0
        || !loader) {
        vips_error_clear();
        return {};
    }
    return QByteArray(loader);
}

// The largest value the image's band format holds as a colour sample: 32-bit samples come out
// at 16 bits, what every writer takes.
std::optional<double> fullScale(VipsBandFormat format)
{
    switch (format) {
    case VIPS_FORMAT_UCHAR: return 255.0;
    case VIPS_FORMAT_USHORT:
    case VIPS_FORMAT_UINT: return 65535.0;
    default: return std::nullopt;
    }
}

// PBM files say 0: libvips already gives their bits as 0 and 255.
std::optional<int> ppmMaximum(VipsImage* image)
{
    if (loaderOf(image) != "ppmload" || !vips_image_get_typeof(image, "ppm-max-value"))
        return std::nullopt;
    int maximum = 0;
    if (vips_image_get_int(image, "ppm-max-value", &maximum) != 0 || maximum < 1) {
        vips_error_clear();
        return std::nullopt;
    }
    const std::optional<double> full = fullScale(image->BandFmt);
    if (!full || (image->BandFmt != VIPS_FORMAT_UINT && maximum == int(*full)))
        return std::nullopt;
    return maximum;
}

struct Box {
    QByteArray type;
    qint64 contentStart = 0;
    qint64 contentSize = 0;
};

// The next box of a JPEG 2000 file from the device's position, within end.
std::optional<Box> nextBox(QIODevice& file, qint64 end)
{
    const qint64 start = file.pos();
    if (end - start < 8)
        return std::nullopt;
    const QByteArray head = file.read(8);
    if (head.size() != 8)
        return std::nullopt;
    quint64 length = qFromBigEndian<quint32>(head.constData());
    qint64 header = 8;
    if (length == 1) {
        const QByteArray extended = file.read(8);
        if (extended.size() != 8)
            return std::nullopt;
        length = qFromBigEndian<quint64>(extended.constData());
        header = 16;
    } else if (length == 0) {
        length = quint64(end - start);
    }
    if (length < quint64(header) || length > quint64(end - start))
        return std::nullopt;
    return Box{head.mid(4, 4), start + header, qint64(length) - header};
}

// What a conversion of sYCC needs to know from the file: its colour box and its components'
// sampling, from the codestream's SIZ segment.
struct Jp2Colour {
    bool sycc = false;
    bool chromaHalved = false;
};

std::optional<Jp2Colour> jp2Colour(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const qint64 size = file.size();
    Jp2Colour colour;
    bool sawColour = false;
    // A file holds a handful of top-level boxes; anything past this many is no picture of ours.
    for (int boxes = 0; boxes < 64; ++boxes) {
        const std::optional<Box> box = nextBox(file, size);
        if (!box)
            return std::nullopt;
        if (box->type == "jp2h") {
            for (int inner = 0; inner < 64 && file.pos() < box->contentStart + box->contentSize; ++inner) {
                const std::optional<Box> child = nextBox(file, box->contentStart + box->contentSize);
                if (!child)
                    return std::nullopt;
                // The first colour box is the one readers follow.
                if (child->type == "colr" && !sawColour) {
                    const QByteArray body = file.read(std::min<qint64>(child->contentSize, 7));
                    sawColour = true;
                    colour.sycc = body.size() == 7 && body[0] == 1 && qFromBigEndian<quint32>(body.constData() + 3) == 18;
                }
                if (!file.seek(child->contentStart + child->contentSize))
                    return std::nullopt;
            }
        } else if (box->type == "jp2c") {
            if (!colour.sycc)
                return colour;
            const QByteArray siz = file.read(4 + 38);
            if (siz.size() != 42 || quint8(siz[0]) != 0xFF || quint8(siz[1]) != 0x4F || quint8(siz[2]) != 0xFF
                || quint8(siz[3]) != 0x51)
                return std::nullopt;
            const int components = qFromBigEndian<quint16>(siz.constData() + 40);
            if (components < 3)
                return std::nullopt;
            const QByteArray sampling = file.read(9);
            if (sampling.size() != 9)
                return std::nullopt;
            auto step = [&](int component, int axis) { return quint8(sampling[component * 3 + 1 + axis]); };
            // libvips itself converts three components whose chroma is halved both ways.
            colour.chromaHalved = components == 3 && step(0, 0) == 1 && step(0, 1) == 1 && step(1, 0) > 1
                && step(1, 1) > 1 && step(2, 0) > 1 && step(2, 1) > 1;
            return colour;
        }
        if (!file.seek(box->contentStart + box->contentSize))
            return std::nullopt;
    }
    return std::nullopt;
}

// Whether this libvips, with the OpenJPEG it was built on, converts an sYCC file whose chroma
// is at full resolution itself: a small picture written, labelled sYCC and read back tells.
bool libvipsConvertsSycc()
{
    static std::once_flag once;
    static bool converts = false;
    std::call_once(once, [] {
        VipsImage* canvas = vips_image_new_matrix(4, 4);
        VipsRef base(canvas);
        VipsRef cast = vipsStep(base.get(), [](VipsImage* i, VipsImage** o) {
            return vips_cast(i, o, VIPS_FORMAT_UCHAR, nullptr);
        });
        VipsRef rgb = vipsStep(cast.get(), [](VipsImage* i, VipsImage** o) {
            double ones[] = {1, 1, 1};
            double values[] = {100, 60, 200};
            return vips_linear(i, o, ones, values, 3, "uchar", TRUE, nullptr);
        });
        if (!rgb)
            return;
        rgb->Type = VIPS_INTERPRETATION_sRGB;
        void* buffer = nullptr;
        size_t length = 0;
        if (vips_jp2ksave_buffer(rgb.get(), &buffer, &length, "lossless", TRUE, nullptr) != 0 || !buffer) {
            vips_error_clear();
            return;
        }
        QByteArray bytes(static_cast<const char*>(buffer), qsizetype(length));
        g_free(buffer);
        // The enumerated colour box: method 1, precedence, approximation, then the space.
        const qsizetype at = bytes.indexOf(QByteArray("colr\x01", 5));
        if (at < 0 || at + 11 > bytes.size() || qFromBigEndian<quint32>(bytes.constData() + at + 7) != 16)
            return;
        qToBigEndian<quint32>(18, bytes.data() + at + 7);
        VipsImage* read = nullptr;
        if (vips_jp2kload_buffer(bytes.data(), size_t(bytes.size()), &read, nullptr) != 0) {
            vips_error_clear();
            return;
        }
        VipsRef loaded(read);
        double* pixel = nullptr;
        int bands = 0;
        if (vips_getpoint(loaded.get(), &pixel, &bands, 1, 1, nullptr) != 0) {
            vips_error_clear();
            return;
        }
        converts = bands >= 3 && !(pixel[0] == 100 && pixel[1] == 60 && pixel[2] == 200);
        g_free(pixel);
    });
    return converts;
}

bool leftAsYcc(const QByteArray& nativePath, VipsImage* image)
{
    if (loaderOf(image) != "jp2kload" || image->Bands < 3
        || (image->BandFmt != VIPS_FORMAT_UCHAR && image->BandFmt != VIPS_FORMAT_USHORT))
        return false;
    const std::optional<Jp2Colour> colour = jp2Colour(QFile::decodeName(nativePath));
    return colour && colour->sycc && !colour->chromaHalved && !libvipsConvertsSycc();
}

// Y, Cb, Cr to R, G, B as JPEG and OpenJPEG's own tools convert them, the chroma centred on
// half the format's range (libvips left-justifies samples in their container).
VipsRef yccToRgb(VipsImage* image, QString* log)
{
    const VipsBandFormat format = image->BandFmt;
    const double centre = format == VIPS_FORMAT_UCHAR ? 128.0 : 32768.0;
    VipsRef colour = vipsStep(image, [](VipsImage* i, VipsImage** o) {
        return vips_extract_band(i, o, 0, "n", 3, nullptr);
    }, log);
    colour = vipsStep(colour.get(), [centre](VipsImage* i, VipsImage** o) {
        double ones[] = {1, 1, 1};
        double offsets[] = {0, -centre, -centre};
        return vips_linear(i, o, ones, offsets, 3, nullptr);
    }, log);
    VipsImage* matrix = vips_image_new_matrixv(3, 3, 1.0, 0.0, 1.402, 1.0, -0.344136, -0.714136, 1.0, 1.772, 0.0);
    VipsRef weights(matrix);
    colour = vipsStep(colour.get(), [&](VipsImage* i, VipsImage** o) {
        return vips_recomb(i, o, weights.get(), nullptr);
    }, log);
    colour = vipsStep(colour.get(), [](VipsImage* i, VipsImage** o) { return vips_rint(i, o, nullptr); }, log);
    colour = vipsStep(colour.get(), [format](VipsImage* i, VipsImage** o) {
        return vips_cast(i, o, format, nullptr);
    }, log);
    if (colour && image->Bands > 3) {
        VipsRef rest = vipsStep(image, [image](VipsImage* i, VipsImage** o) {
            return vips_extract_band(i, o, 3, "n", image->Bands - 3, nullptr);
        }, log);
        colour = vipsStep(colour.get(), [&](VipsImage* i, VipsImage** o) {
            return vips_bandjoin2(i, rest.get(), o, nullptr);
        }, log);
    }
    if (colour)
        colour->Type = format == VIPS_FORMAT_UCHAR ? VIPS_INTERPRETATION_sRGB : VIPS_INTERPRETATION_RGB16;
    return colour;
}

VipsRef rescaled(VipsImage* image, int maximum, QString* log)
{
    const double full = *fullScale(image->BandFmt);
    const VipsBandFormat format = image->BandFmt == VIPS_FORMAT_UCHAR ? VIPS_FORMAT_UCHAR : VIPS_FORMAT_USHORT;
    const bool grey = image->Bands < 3;
    VipsRef scaled = vipsStep(image, [&](VipsImage* i, VipsImage** o) {
        return vips_linear1(i, o, full / maximum, 0.0, nullptr);
    }, log);
    scaled = vipsStep(scaled.get(), [](VipsImage* i, VipsImage** o) { return vips_rint(i, o, nullptr); }, log);
    scaled = vipsStep(scaled.get(), [format](VipsImage* i, VipsImage** o) {
        return vips_cast(i, o, format, nullptr);
    }, log);
    if (scaled) {
        if (format == VIPS_FORMAT_UCHAR)
            scaled->Type = grey ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB;
        else
            scaled->Type = grey ? VIPS_INTERPRETATION_GREY16 : VIPS_INTERPRETATION_RGB16;
        vips_image_remove(scaled.get(), "ppm-max-value");
    }
    return scaled;
}

} // namespace

bool StoredSamples::wasCorrected(VipsImage* image)
{
    return image && vips_image_get_typeof(image, correctedField);
}

bool StoredSamples::needCorrection(const QByteArray& nativePath, VipsImage* opened)
{
    if (wasCorrected(opened))
        return false;
    return ppmMaximum(opened) || leftAsYcc(nativePath, opened);
}

VipsRef StoredSamples::corrected(const QByteArray& nativePath, VipsImage* opened, QString* log)
{
    VipsRef out;
    if (!needCorrection(nativePath, opened)) {
        g_object_ref(opened);
        return VipsRef(opened);
    }
    if (const std::optional<int> maximum = ppmMaximum(opened))
        out = rescaled(opened, *maximum, log);
    else
        out = yccToRgb(opened, log);
    if (out)
        vips_image_set_int(out.get(), correctedField, 1);
    return out;
}

} // namespace qv
