#include "engines/image/foreign/IconFileWriter.h"

#include "engines/image/conversion/ImageTransforms.h"
#include "engines/image/foreign/ImageWriter.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "platform/files/FileContents.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

void appendLE16(QByteArray& out, quint16 value)
{
    out.append(char(value & 0xFF)).append(char(value >> 8));
}

void appendLE32(QByteArray& out, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

void appendBE32(QByteArray& out, quint32 value)
{
    for (int i = 3; i >= 0; --i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

const char* icnsType(int size)
{
    switch (size) {
    case 16: return "icp4";
    case 32: return "icp5";
    case 64: return "icp6";
    case 128: return "ic07";
    case 256: return "ic08";
    case 512: return "ic09";
    default: return "ic10";
    }
}

} // namespace

const QList<int>& IconFileWriter::iconSizes(ImageOutput output)
{
    static const QList<int> ico{16, 24, 32, 48, 64, 256};
    static const QList<int> icns{16, 32, 64, 128, 256, 512, 1024};
    return output == ImageOutput::icns ? icns : ico;
}

QByteArray IconFileWriter::icoContainer(const QList<int>& sizes, const QList<QByteArray>& pngs)
{
    QByteArray out;
    appendLE16(out, 0);
    appendLE16(out, 1); // icon
    appendLE16(out, quint16(sizes.size()));
    quint32 offset = quint32(6 + 16 * sizes.size());
    for (qsizetype i = 0; i < sizes.size(); ++i) {
        const int side = sizes[i];
        out.append(char(side >= 256 ? 0 : side)).append(char(side >= 256 ? 0 : side));
        out.append(char(0)).append(char(0)); // no palette, reserved
        appendLE16(out, 1);                  // planes
        appendLE16(out, 32);                 // bits per pixel
        appendLE32(out, quint32(pngs[i].size()));
        appendLE32(out, offset);
        offset += quint32(pngs[i].size());
    }
    for (const QByteArray& png : pngs)
        out += png;
    return out;
}

QByteArray IconFileWriter::icnsContainer(const QList<int>& sizes, const QList<QByteArray>& pngs)
{
    QByteArray body;
    for (qsizetype i = 0; i < sizes.size(); ++i) {
        body.append(icnsType(sizes[i]), 4);
        appendBE32(body, quint32(8 + pngs[i].size()));
        body += pngs[i];
    }
    QByteArray out("icns");
    appendBE32(out, quint32(8 + body.size()));
    return out + body;
}

void IconFileWriter::writeIconFile(const DecodedImage& image, const QString& path, ImageOutput output,
                                   std::stop_token stop)
{
    const QList<int>& sizes = iconSizes(output);
    const int largest = sizes.last();
    // Shrunk before it is made square, so that a source claiming a huge size costs what its
    // data holds (a damaged one fails at its first rows) and not a canvas of that size.
    DecodedImage fitted = image;
    const int longest = std::max(image.width(), image.height());
    if (longest > largest) {
        const double scale = double(largest) / longest;
        fitted = ImageTransforms::scaledImage(image, std::max(1.0, std::round(image.width() * scale)),
                                              std::max(1.0, std::round(image.height() * scale)));
    }
    // Every size is read from one small copy in memory: the source itself streams once.
    DecodedImage square = ImageTransforms::squareCanvas(fitted.materialized()).materialized();
    QList<QByteArray> pngs;
    for (int side : sizes) {
        throwIfCancelled(stop);
        const DecodedImage scaled =
            side == square.width() ? square : ImageTransforms::scaledImage(square, side, side);
        try {
            pngs << ImageWriter::encode(scaled, ImageOutput::png, 1.0, stop);
        } catch (const EngineError& error) {
            throw EngineError(ImageWriter::writeFailedMessage(output), error.log());
        }
    }
    const QByteArray bytes =
        output == ImageOutput::icns ? icnsContainer(sizes, pngs) : icoContainer(sizes, pngs);
    if (const auto error = FileContents::createNew(path, bytes))
        throw EngineError(ImageWriter::writeFailedMessage(output), error->localizedDescription());
}

} // namespace qv
