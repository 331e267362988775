#include "engines/pdf/PdfOriginalImages.h"

#include "engines/image/foreign/JpegCompaction.h"

#include <QHash>
#include <QImage>

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
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
    bool png = false;
    int components = 0;
    QSize size;
    mutable QImage thumb; // made when first needed, with the samples
    mutable QByteArray pixelSamples;
    mutable QImage decoded; // a PNG's pixels, kept for a lossless stream
    const QImage& thumbnailImage() const
    {
        if (thumb.isNull()) {
            const QImage image = QImage::fromData(bytes, png ? "PNG" : "JPEG");
            if (png)
                decoded = image;
            thumb = thumbnail(image);
            pixelSamples = samples(image);
        }
        return thumb;
    }
};

quint32 bigEndian32(const QByteArray& bytes, qsizetype at)
{
    return (quint32(quint8(bytes[at])) << 24) | (quint32(quint8(bytes[at + 1])) << 16)
        | (quint32(quint8(bytes[at + 2])) << 8) | quint32(quint8(bytes[at + 3]));
}

constexpr char pngSignature[] = "\x89PNG\r\n\x1a\n";

// The size and components of a PNG that is opaque grey or colour (palettes included); 0 for one
// with transparency, which Qt draws with a mask of its own.
int pngComponents(const QByteArray& png, QSize* size)
{
    if (!png.startsWith(pngSignature) || png.size() < 33 || png.mid(12, 4) != "IHDR")
        return 0;
    *size = QSize(int(bigEndian32(png, 16) & 0x7FFFFFFF), int(bigEndian32(png, 20) & 0x7FFFFFFF));
    const int colourType = quint8(png[25]);
    if (colourType == 4 || colourType == 6)
        return 0;
    // Transparency comes before the first rows.
    for (qsizetype at = 8; at + 12 <= png.size();) {
        const quint32 length = bigEndian32(png, at);
        const QByteArray type = png.mid(at + 4, 4);
        if (type == "tRNS")
            return 0;
        if (type == "IDAT" || length > quint32(png.size() - at - 12))
            break;
        at += 12 + qsizetype(length);
    }
    return colourType == 0 ? 1 : 3;
}

// The PNG's own compressed rows when a PDF Flate stream with PNG predictors reads them as they
// are: 8-bit grey or RGB, not interlaced. Empty otherwise.
QByteArray pngStoredRows(const QByteArray& png)
{
    const int colourType = quint8(png[25]);
    if (quint8(png[24]) != 8 || (colourType != 0 && colourType != 2) || quint8(png[28]) != 0)
        return {};
    QByteArray rows;
    qsizetype at = 8;
    while (at + 12 <= png.size()) {
        const quint32 length = bigEndian32(png, at);
        if (length > quint32(png.size() - at - 12))
            return {};
        const QByteArray type = png.mid(at + 4, 4);
        if (type == "IDAT")
            rows.append(png.constData() + at + 8, qsizetype(length));
        else if (type == "IEND")
            return rows;
        at += 12 + qsizetype(length);
    }
    return {};
}

// A zlib stream of the pixels' rows, for a PDF's Flate filter.
QByteArray deflatedRows(const QImage& image, int components)
{
    const QImage rows = image.convertToFormat(components == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    const qsizetype rowBytes = qsizetype(rows.width()) * components;
    QByteArray raw;
    raw.reserve(rowBytes * rows.height());
    for (int y = 0; y < rows.height(); ++y)
        raw.append(reinterpret_cast<const char*>(rows.constScanLine(y)), rowBytes);
    // qCompress puts the length before the zlib stream.
    return qCompress(raw).mid(4);
}

// Image streams with the same bytes and the same dictionary become one: the painter writes a
// picture anew at every use. Masks are shared first, so pictures sharing a mask compare equal.
void shareIdenticalImages(QPDF& qpdf, std::map<QPDFObjGen, QPDFObjectHandle>& sameAs)
{
    QList<QPDFObjectHandle> images;
    for (QPDFObjectHandle& object : qpdf.getAllObjects()) {
        if (object.isStream() && object.getDict().getKey("/Subtype").isNameAndEquals("/Image"))
            images.append(object);
    }
    std::stable_partition(images.begin(), images.end(),
                          [](QPDFObjectHandle& image) { return !image.getDict().hasKey("/SMask"); });
    QHash<QByteArray, QPDFObjectHandle> firstOf;
    for (QPDFObjectHandle& image : images) {
        if (sameAs.contains(image.getObjGen()))
            continue;
        QPDFObjectHandle dict = image.getDict();
        QByteArray key;
        for (const std::string& name : dict.getKeys()) {
            if (name == "/Length")
                continue;
            QPDFObjectHandle value = dict.getKey(name);
            if (name == "/SMask" && value.isIndirect()) {
                if (const auto shared = sameAs.find(value.getObjGen()); shared != sameAs.end())
                    value = shared->second;
            }
            key += QByteArray::fromStdString(name) + ' ' + QByteArray::fromStdString(value.unparse()) + '\n';
        }
        const std::shared_ptr<Buffer> raw = image.getRawStreamData();
        key += '\0';
        key.append(reinterpret_cast<const char*>(raw->getBuffer()), qsizetype(raw->getSize()));
        const auto first = firstOf.constFind(key);
        if (first == firstOf.constEnd())
            firstOf.insert(key, image);
        else
            sameAs.emplace(image.getObjGen(), *first);
    }
}

void pointAtShared(QPDFObjectHandle object, const std::map<QPDFObjGen, QPDFObjectHandle>& sameAs, int depth = 0)
{
    // Qt's dictionaries nest a few levels; the bound only stops a cycle of direct objects.
    if (depth > 32)
        return;
    if (object.isStream())
        object = object.getDict();
    if (object.isDictionary()) {
        for (const std::string& key : object.getKeys()) {
            QPDFObjectHandle value = object.getKey(key);
            if (value.isIndirect()) {
                if (const auto target = sameAs.find(value.getObjGen()); target != sameAs.end())
                    object.replaceKey(key, target->second);
            } else {
                pointAtShared(value, sameAs, depth + 1);
            }
        }
    } else if (object.isArray()) {
        for (int i = 0; i < object.getArrayNItems(); ++i) {
            QPDFObjectHandle value = object.getArrayItem(i);
            if (value.isIndirect()) {
                if (const auto target = sameAs.find(value.getObjGen()); target != sameAs.end())
                    object.setArrayItem(i, target->second);
            } else {
                pointAtShared(value, sameAs, depth + 1);
            }
        }
    }
}

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

QByteArray PdfOriginalImages::restorePictures(const QByteArray& pdf, const QList<QByteArray>& pictures)
{
    QList<Original> originals;
    for (const QByteArray& picture : pictures) {
        Original original;
        original.bytes = picture;
        if (picture.startsWith(pngSignature)) {
            original.png = true;
            original.components = pngComponents(picture, &original.size);
        } else {
            int width = 0, height = 0;
            original.components = jpegComponents(picture, &width, &height);
            original.size = QSize(width, height);
        }
        // CMYK pictures are drawn converted; their own bytes would need an inverted decode.
        if ((original.components == 1 || original.components == 3) && !original.size.isEmpty())
            originals.append(original);
    }
    try {
        QPDF qpdf;
        qpdf.setSuppressWarnings(true);
        qpdf.processMemoryFile("document", pdf.constData(), size_t(pdf.size()));
        QHash<int, QPDFObjectHandle> placed; // original → its object
        std::set<QPDFObjGen> ownJpegs; // the source's own bytes, kept as they came
        std::map<QPDFObjGen, QPDFObjectHandle> sameAs; // replaced copy → the first one
        for (QPDFObjectHandle& object : qpdf.getAllObjects()) {
            if (originals.isEmpty())
                break;
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
            if (best < 0)
                continue;
            if (const auto first = placed.constFind(best); first != placed.constEnd()) {
                sameAs.emplace(object.getObjGen(), *first);
                continue;
            }
            placed.insert(best, object);
            const Original& original = originals[best];
            if (!original.png) {
                object.replaceStreamData(original.bytes.toStdString(), QPDFObjectHandle::newName("/DCTDecode"),
                                         QPDFObjectHandle::newNull());
                ownJpegs.insert(object.getObjGen());
                continue;
            }
            // A PNG's own pixels, unless they take more room than the painter's JPEG of them: a
            // photo kept as PNG would grow the document several times over.
            QByteArray rows = pngStoredRows(original.bytes);
            QPDFObjectHandle parameters = QPDFObjectHandle::newNull();
            if (!rows.isEmpty()) {
                parameters = QPDFObjectHandle::parse("<< /Predictor 15 /Colors " + std::to_string(components)
                                                     + " /BitsPerComponent 8 /Columns " + std::to_string(width) + " >>");
            } else {
                rows = deflatedRows(original.decoded, components);
            }
            if (rows.isEmpty() || size_t(rows.size()) > object.getRawStreamData()->getSize())
                continue;
            dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
            object.replaceStreamData(rows.toStdString(), QPDFObjectHandle::newName("/FlateDecode"), parameters);
        }
        shareIdenticalImages(qpdf, sameAs);
        // The painter's own JPEGs, smaller by their coefficients written again: the same pixels.
        bool compacted = false;
        for (QPDFObjectHandle& object : qpdf.getAllObjects()) {
            if (!object.isStream() || sameAs.contains(object.getObjGen()) || ownJpegs.contains(object.getObjGen()))
                continue;
            QPDFObjectHandle dict = object.getDict();
            if (!dict.getKey("/Subtype").isNameAndEquals("/Image") || !dict.getKey("/Filter").isNameAndEquals("/DCTDecode")
                || dict.hasKey("/DecodeParms"))
                continue;
            const std::shared_ptr<Buffer> raw = object.getRawStreamData();
            const QByteArray smaller = JpegCompaction::compact(
                QByteArrayView(reinterpret_cast<const char*>(raw->getBuffer()), qsizetype(raw->getSize())));
            if (smaller.isEmpty() || size_t(smaller.size()) >= raw->getSize())
                continue;
            object.replaceStreamData(smaller.toStdString(), QPDFObjectHandle::newName("/DCTDecode"), QPDFObjectHandle::newNull());
            compacted = true;
        }
        if (sameAs.empty() && placed.isEmpty() && !compacted)
            return pdf;
        // Pages name the first copy of a picture wherever they named another.
        for (QPDFObjectHandle& object : qpdf.getAllObjects())
            pointAtShared(object, sameAs);
        pointAtShared(qpdf.getTrailer(), sameAs);
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
