#include "engines/image/foreign/PsdWriter.h"

#include "engines/image/foreign/CheckedVipsTarget.h"

#include <QFile>
#include <QtEndian>

#include <cmath>
#include <cstring>

namespace qv {

namespace {

const char* const domain = "psdsave";

void put16(QByteArray& out, quint16 value)
{
    char bytes[2];
    qToBigEndian(value, bytes);
    out.append(bytes, 2);
}

void put32(QByteArray& out, quint32 value)
{
    char bytes[4];
    qToBigEndian(value, bytes);
    out.append(bytes, 4);
}

void putResource(QByteArray& out, quint16 id, const QByteArray& data)
{
    out.append("8BIM", 4);
    put16(out, id);
    put16(out, 0); // empty name, padded to even
    put32(out, quint32(data.size()));
    out.append(data);
    if (data.size() % 2)
        out.append('\0');
}

// ResolutionInfo: pixels per inch as 16.16 fixed point, shown in inches.
QByteArray resolutionInfo(double xres, double yres)
{
    QByteArray info;
    for (double perMillimetre : {xres, yres}) {
        const double dpi = perMillimetre > 0 ? perMillimetre * 25.4 : 72.0;
        put32(info, quint32(std::lround(dpi * 65536.0)));
        put16(info, 1);
        put16(info, 1);
    }
    return info;
}

// One channel's samples, row after row, big-endian: the planar order of the format.
void appendPlane(QByteArray& out, const uchar* pixels, int width, int height, int bands, int band, int bytes)
{
    const qsizetype start = out.size();
    out.resize(start + qsizetype(width) * height * bytes);
    char* to = out.data() + start;
    const size_t stride = size_t(bands) * bytes;
    const uchar* from = pixels + size_t(band) * bytes;
    const size_t count = size_t(width) * size_t(height);
    if (bytes == 1) {
        for (size_t i = 0; i < count; ++i)
            to[i] = char(from[i * stride]);
    } else {
        for (size_t i = 0; i < count; ++i) {
            quint16 sample;
            std::memcpy(&sample, from + i * stride, 2);
            qToBigEndian(sample, to + i * 2);
        }
    }
}

} // namespace

QByteArray PsdWriter::encode(VipsImage* image)
{
    const VipsInterpretation interpretation = vips_image_guess_interpretation(image);
    const int colours =
        interpretation == VIPS_INTERPRETATION_B_W || interpretation == VIPS_INTERPRETATION_GREY16 ? 1 : 3;
    const quint16 mode = colours == 1 ? 1 : 3;
    const int bytes = image->BandFmt == VIPS_FORMAT_UCHAR ? 1 : image->BandFmt == VIPS_FORMAT_USHORT ? 2 : 0;
    if (bytes == 0 || interpretation == VIPS_INTERPRETATION_CMYK || image->Bands < colours
        || image->Bands > colours + 1) {
        vips_error(domain, "unsupported pixels: %d bands of format %d", image->Bands, int(image->BandFmt));
        return {};
    }
    const bool alpha = image->Bands == colours + 1;
    const int width = image->Xsize;
    const int height = image->Ysize;
    if (width > 30000 || height > 30000) {
        vips_error(domain, "%d x %d is larger than the format holds", width, height);
        return {};
    }

    size_t length = 0;
    void* memory = vips_image_write_to_memory(image, &length);
    if (!memory)
        return {};
    const size_t expected = size_t(width) * size_t(height) * size_t(image->Bands) * size_t(bytes);
    if (length < expected) {
        g_free(memory);
        vips_error(domain, "short read of the pixels");
        return {};
    }
    const auto* pixels = static_cast<const uchar*>(memory);
    const qsizetype plane = qsizetype(width) * height * bytes;

    QByteArray out;
    out.reserve(qsizetype(expected) * (alpha ? 2 : 1) + 4096);
    out.append("8BPS", 4);
    put16(out, 1);
    out.append(6, '\0');
    put16(out, quint16(image->Bands));
    put32(out, quint32(height));
    put32(out, quint32(width));
    put16(out, quint16(bytes * 8));
    put16(out, mode);
    put32(out, 0); // no colour-mode data

    QByteArray resources;
    putResource(resources, 0x03ED, resolutionInfo(image->Xres, image->Yres));
    if (vips_image_get_typeof(image, VIPS_META_ICC_NAME)) {
        const void* icc = nullptr;
        size_t iccLength = 0;
        if (vips_image_get_blob(image, VIPS_META_ICC_NAME, &icc, &iccLength) == 0 && icc && iccLength > 0)
            putResource(resources, 0x040F, QByteArray(static_cast<const char*>(icc), qsizetype(iccLength)));
        vips_error_clear();
    }
    put32(out, quint32(resources.size()));
    out.append(resources);

    if (!alpha) {
        put32(out, 0);
    } else {
        // One layer whose first channel (-1) is its transparency.
        QByteArray layers;
        put16(layers, quint16(-1)); // negative: the merged picture's first extra channel is its alpha
        for (int edge : {0, 0, height, width})
            put32(layers, quint32(edge));
        put16(layers, quint16(colours + 1));
        put16(layers, quint16(-1));
        put32(layers, quint32(2 + plane));
        for (int channel = 0; channel < colours; ++channel) {
            put16(layers, quint16(channel));
            put32(layers, quint32(2 + plane));
        }
        layers.append("8BIMnorm", 8);
        layers.append(char(255)); // opacity
        layers.append('\0');      // clipping: base
        layers.append('\0');      // flags: visible
        layers.append('\0');
        const QByteArray name("\x05Layer\0\0", 8); // Pascal string padded to four bytes
        put32(layers, quint32(4 + 4 + name.size()));
        put32(layers, 0); // no mask
        put32(layers, 0); // no blending ranges
        layers.append(name);
        put16(layers, 0);
        appendPlane(layers, pixels, width, height, image->Bands, colours, bytes);
        for (int channel = 0; channel < colours; ++channel) {
            put16(layers, 0);
            appendPlane(layers, pixels, width, height, image->Bands, channel, bytes);
        }
        if (layers.size() % 2)
            layers.append('\0');
        QByteArray section;
        put32(section, quint32(layers.size()));
        section.append(layers);
        put32(section, 0); // no global layer mask
        put32(out, quint32(section.size()));
        out.append(section);
    }

    put16(out, 0); // merged picture, raw
    const int bands = image->Bands;
    for (int band = 0; band < bands; ++band)
        appendPlane(out, pixels, width, height, bands, band, bytes);
    g_free(memory);
    return out;
}

int PsdWriter::save(VipsImage* image, const char* path)
{
    const QByteArray bytes = encode(image);
    if (bytes.isEmpty())
        return -1;
    // Checked writes: Qt 6.4's QFile gives a short count on a full disk and no reason.
    CheckedVipsTarget::writeFile(QFile::decodeName(path), bytes.constData(), bytes.size());
    return 0;
}

} // namespace qv
