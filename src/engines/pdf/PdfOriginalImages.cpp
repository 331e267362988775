#include "engines/pdf/PdfOriginalImages.h"

#include <QHash>
#include <QImage>

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cmath>
#include <memory>

namespace qv {
namespace {

constexpr int thumbSide = 12;
// Qt codes a picture anew at a high JPEG quality: its pixels move by a few levels at most.
constexpr double maximumSampleDistance = 6;

// The picture at a small size, for a likeness that survives a re-encoding.
QImage thumbnail(const QImage& image)
{
    return image.convertToFormat(QImage::Format_RGB888)
        .scaled(thumbSide, thumbSide, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

bool alike(const QImage& a, const QImage& b)
{
    if (a.size() != b.size() || a.isNull())
        return false;
    double total = 0;
    for (int y = 0; y < a.height(); ++y) {
        const uchar* pa = a.constScanLine(y);
        const uchar* pb = b.constScanLine(y);
        for (int x = 0; x < a.width() * 3; ++x)
            total += std::abs(int(pa[x]) - int(pb[x]));
    }
    return total / (a.width() * a.height() * 3) < 6;
}

constexpr int sampleSide = 48;

// Single pixels on a grid over the whole picture, unsmoothed: pictures alike at a small size
// (two shots of one scene, two noisy textures) still differ in them, while a re-encoding of one
// picture moves them only a little.
QByteArray samples(const QImage& image)
{
    QByteArray values;
    if (image.isNull())
        return values;
    values.reserve(sampleSide * sampleSide * 3);
    for (int j = 0; j < sampleSide; ++j) {
        const int y = int((j + 0.5) * image.height() / sampleSide);
        for (int i = 0; i < sampleSide; ++i) {
            const QRgb pixel = image.pixel(int((i + 0.5) * image.width() / sampleSide), y);
            values.append(char(qRed(pixel))).append(char(qGreen(pixel))).append(char(qBlue(pixel)));
        }
    }
    return values;
}

// The mean difference of two sets of samples, 255 when they cannot be compared.
double sampleDistance(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size() || a.isEmpty())
        return 255;
    double total = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        total += std::abs(int(quint8(a[i])) - int(quint8(b[i])));
    return total / double(a.size());
}

struct Original {
    QByteArray bytes;
    int components = 0;
    QSize size;
    mutable QImage thumb; // made when first needed, with the samples
    mutable QByteArray pixelSamples;
    const QImage& thumbnailImage() const
    {
        if (thumb.isNull()) {
            const QImage image = QImage::fromData(bytes, "JPEG");
            thumb = thumbnail(image);
            pixelSamples = samples(image);
        }
        return thumb;
    }
};

// The pixels of an image object as the PDF holds them, when they are plain 8-bit RGB or grey
// (JPEG-coded or not).
QImage pixelsOf(QPDFObjectHandle& stream, int width, int height, int components)
{
    QPDFObjectHandle dict = stream.getDict();
    QPDFObjectHandle filter = dict.getKey("/Filter");
    if (filter.isName() && filter.getName() == "/DCTDecode") {
        std::shared_ptr<Buffer> raw = stream.getRawStreamData();
        return QImage::fromData(QByteArray(reinterpret_cast<const char*>(raw->getBuffer()), qsizetype(raw->getSize())),
                                "JPEG");
    }
    if (dict.getKey("/BitsPerComponent").getIntValueAsInt() != 8)
        return {};
    std::shared_ptr<Buffer> data = stream.getStreamData(qpdf_dl_generalized);
    const qsizetype rowBytes = qsizetype(width) * components;
    if (qsizetype(data->getSize()) < rowBytes * height)
        return {};
    QImage image(width, height, components == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    for (int y = 0; y < height; ++y)
        std::memcpy(image.scanLine(y), data->getBuffer() + y * rowBytes, size_t(rowBytes));
    return image;
}

} // namespace

int PdfOriginalImages::jpegComponents(const QByteArray& jpeg, int* width, int* height)
{
    if (!jpeg.startsWith("\xff\xd8"))
        return 0;
    qsizetype at = 2;
    while (at + 4 <= jpeg.size()) {
        if (quint8(jpeg[at]) != 0xFF)
            return 0;
        const quint8 marker = quint8(jpeg[at + 1]);
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        const int length = (quint8(jpeg[at + 2]) << 8) | quint8(jpeg[at + 3]);
        // Baseline, extended and progressive Huffman frames.
        if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) {
            if (at + 10 > jpeg.size())
                return 0;
            if (height)
                *height = (quint8(jpeg[at + 5]) << 8) | quint8(jpeg[at + 6]);
            if (width)
                *width = (quint8(jpeg[at + 7]) << 8) | quint8(jpeg[at + 8]);
            return quint8(jpeg[at + 9]);
        }
        if (marker == 0xD9 || marker == 0xDA || length < 2)
            return 0;
        at += 2 + length;
    }
    return 0;
}

QByteArray PdfOriginalImages::restoreJpegs(const QByteArray& pdf, const QList<QByteArray>& jpegs)
{
    QList<Original> originals;
    for (const QByteArray& jpeg : jpegs) {
        Original original;
        original.bytes = jpeg;
        int width = 0, height = 0;
        original.components = jpegComponents(jpeg, &width, &height);
        original.size = QSize(width, height);
        // CMYK pictures are drawn converted; their own bytes would need an inverted decode.
        if ((original.components == 1 || original.components == 3) && !original.size.isEmpty())
            originals.append(original);
    }
    if (originals.isEmpty())
        return pdf;
    try {
        QPDF qpdf;
        qpdf.setSuppressWarnings(true);
        qpdf.processMemoryFile("document", pdf.constData(), size_t(pdf.size()));
        QHash<int, QPDFObjectHandle> placed; // original → its object
        QHash<QPair<int, int>, QPDFObjectHandle> sameAs; // replaced copy → the first one
        bool changed = false;
        for (QPDFObjectHandle& object : qpdf.getAllObjects()) {
            if (!object.isStream())
                continue;
            QPDFObjectHandle dict = object.getDict();
            if (!dict.getKey("/Subtype").isNameAndEquals("/Image") || dict.hasKey("/SMask") || dict.hasKey("/Mask")
                || dict.getKey("/ImageMask").isBool())
                continue;
            const int width = dict.getKey("/Width").getIntValueAsInt();
            const int height = dict.getKey("/Height").getIntValueAsInt();
            QPDFObjectHandle space = dict.getKey("/ColorSpace");
            const int components = space.isNameAndEquals("/DeviceRGB") ? 3 : space.isNameAndEquals("/DeviceGray") ? 1 : 0;
            if (components == 0)
                continue;
            QImage pixels;
            QImage thumb;
            QByteArray pixelSamples;
            // The closest of the originals alike in size and look, so that one picture never
            // stands in for another that merely resembles it.
            int best = -1;
            double bestDistance = maximumSampleDistance;
            for (int i = 0; i < originals.size(); ++i) {
                const Original& original = originals[i];
                if (original.size != QSize(width, height) || original.components != components)
                    continue;
                if (pixels.isNull()) {
                    pixels = pixelsOf(object, width, height, components);
                    if (pixels.isNull())
                        break;
                    thumb = thumbnail(pixels);
                    pixelSamples = samples(pixels);
                }
                if (!alike(thumb, original.thumbnailImage()))
                    continue;
                const double distance = sampleDistance(pixelSamples, original.pixelSamples);
                if (distance < bestDistance) {
                    bestDistance = distance;
                    best = int(i);
                }
            }
            if (best >= 0) {
                if (const auto first = placed.constFind(best); first != placed.constEnd()) {
                    sameAs.insert({object.getObjectID(), object.getGeneration()}, *first);
                } else {
                    object.replaceStreamData(originals[best].bytes.toStdString(), QPDFObjectHandle::newName("/DCTDecode"),
                                             QPDFObjectHandle::newNull());
                    placed.insert(best, object);
                }
                changed = true;
            }
        }
        if (!changed)
            return pdf;
        // Pages name the first copy of a picture wherever they named another.
        if (!sameAs.isEmpty()) {
            for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(qpdf).getAllPages()) {
                QPDFObjectHandle xobjects = page.getObjectHandle().getKey("/Resources").getKey("/XObject");
                if (!xobjects.isDictionary())
                    continue;
                for (const std::string& key : xobjects.getKeys()) {
                    const QPDFObjectHandle value = xobjects.getKey(key);
                    const auto target = sameAs.constFind({value.getObjectID(), value.getGeneration()});
                    if (target != sameAs.constEnd())
                        xobjects.replaceKey(key, *target);
                }
            }
        }
        QPDFWriter writer(qpdf);
        writer.setOutputMemory();
        writer.setCompressStreams(true);
        writer.write();
        std::unique_ptr<Buffer> buffer(writer.getBuffer());
        return QByteArray(reinterpret_cast<const char*>(buffer->getBuffer()), qsizetype(buffer->getSize()));
    } catch (const std::exception&) {
        return pdf;
    }
}

} // namespace qv
