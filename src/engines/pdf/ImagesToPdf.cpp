#include "engines/pdf/ImagesToPdf.h"

#include "engines/image/conversion/ImageTransforms.h"
#include "engines/image/foreign/ImageDecoder.h"
#include "engines/image/foreign/ImageHeader.h"
#include "engines/image/foreign/ImageWriter.h"
#include "engines/image/foreign/TiffPages.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/operations/Progress.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>

// Modern qpdf: std::shared_ptr only.
#define POINTERHOLDER_TRANSITION 4
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <map>

#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <memory>

namespace qv {

namespace {

QString cannotCreate()
{
    return QStringLiteral("Couldn't create the PDF");
}

// Passed-through JPEGs are read from their files only while the document is written, so the
// pages in memory hold no more than their re-encoded pictures.
class JpegFiles : public QPDFObjectHandle::StreamDataProvider {
public:
    void add(QPDFObjGen stream, const QString& path) { m_files[stream] = path; }

    void provideStreamData(QPDFObjGen const& stream, Pipeline* pipeline) override
    {
        QFile file(m_files.at(stream));
        if (!file.open(QIODevice::ReadOnly))
            throw std::runtime_error("cannot read " + file.fileName().toStdString());
        QByteArray chunk;
        while (!(chunk = file.read(1 << 16)).isEmpty())
            pipeline->write(reinterpret_cast<const unsigned char*>(chunk.constData()), size_t(chunk.size()));
        if (file.error() != QFile::NoError)
            throw std::runtime_error("cannot read " + file.fileName().toStdString());
        pipeline->finish();
    }

private:
    std::map<QPDFObjGen, QString> m_files;
};

// The document goes to disk through one checked write after another, synced at the end: a full
// disk is an error, never a short file.
class CheckedFile : public Pipeline {
public:
    explicit CheckedFile(const QString& path) : Pipeline("checked file", nullptr), m_file(path)
    {
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            throw std::runtime_error(m_file.errorString().toStdString());
    }

    void write(unsigned char const* data, size_t length) override
    {
        errno = 0;
        if (m_file.write(reinterpret_cast<const char*>(data), qint64(length)) != qint64(length)) {
            // Qt 6.4 gives a short count on a full disk and sets no error; the failed call's
            // errno says why.
            const int error = errno;
            throw std::runtime_error(error != 0 ? std::strerror(error) : m_file.errorString().toStdString());
        }
    }

    // qpdf finishes its pipelines more than once; the file is only closed by commit.
    void finish() override
    {
        if (!m_file.flush())
            throw std::runtime_error(m_file.errorString().toStdString());
    }

    void commit()
    {
        if (!m_file.flush() || ::fsync(m_file.handle()) != 0)
            throw std::runtime_error(m_file.errorString().toStdString());
        m_file.close();
        if (m_file.error() != QFileDevice::NoError)
            throw std::runtime_error(m_file.errorString().toStdString());
    }

private:
    QFile m_file;
};

QByteArray flate(const QByteArray& raw)
{
    // qCompress gives a zlib stream after four bytes of length.
    return qCompress(raw, 6).mid(4);
}

// The profile when its colour space is the picture's (bytes 16 to 19 of an ICC header): a
// profile of another model would make readers refuse the page.
QByteArray profileFor(const QByteArray& profile, int components)
{
    const QByteArray space = profile.mid(16, 4);
    return (components == 1 && space == "GRAY") || (components == 3 && space == "RGB ")
            || (components == 4 && space == "CMYK")
        ? profile
        : QByteArray();
}

bool isJpegName(const QString& file)
{
    const QString suffix = QFileInfo(file).suffix().toLower();
    return suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg");
}

QPDFObjectHandle imageStream(QPDF& pdf, const ImagesToPdf::PageImage& page,
                             const std::shared_ptr<JpegFiles>& files)
{
    QPDFObjectHandle dict = QPDFObjectHandle::newDictionary();
    dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    dict.replaceKey("/Width", QPDFObjectHandle::newInteger(page.width));
    dict.replaceKey("/Height", QPDFObjectHandle::newInteger(page.height));
    const char* device = page.components == 1 ? "/DeviceGray"
        : page.components == 4                ? "/DeviceCMYK"
                                              : "/DeviceRGB";
    if (page.colourProfile.isEmpty()) {
        dict.replaceKey("/ColorSpace", QPDFObjectHandle::newName(device));
    } else {
        // The JPEG's own profile goes with its bytes; readers that cannot use it take the device space.
        QPDFObjectHandle profile = QPDFObjectHandle::newStream(&pdf);
        profile.replaceStreamData(flate(page.colourProfile).toStdString(), QPDFObjectHandle::newName("/FlateDecode"),
                                  QPDFObjectHandle::newNull());
        profile.getDict().replaceKey("/N", QPDFObjectHandle::newInteger(page.components));
        profile.getDict().replaceKey("/Alternate", QPDFObjectHandle::newName(device));
        QPDFObjectHandle space = QPDFObjectHandle::newArray();
        space.appendItem(QPDFObjectHandle::newName("/ICCBased"));
        space.appendItem(profile);
        dict.replaceKey("/ColorSpace", space);
    }
    dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
    if (page.invertedCmyk)
        dict.replaceKey("/Decode", QPDFObjectHandle::parse("[1 0 1 0 1 0 1 0]"));
    dict.replaceKey("/Interpolate", QPDFObjectHandle::newBool(true));
    const QPDFObjectHandle filter = QPDFObjectHandle::newName(
        page.encoding == ImagesToPdf::PageImage::Encoding::jpeg ? "/DCTDecode" : "/FlateDecode");
    QPDFObjectHandle stream = QPDFObjectHandle::newStream(&pdf);
    if (!page.sourceFile.isEmpty()) {
        stream.replaceDict(dict);
        files->add(stream.getObjGen(), page.sourceFile);
        stream.replaceStreamData(files, filter, QPDFObjectHandle::newNull());
    } else {
        stream.replaceStreamData(page.data.toStdString(), filter, QPDFObjectHandle::newNull());
        for (const auto& key : dict.getKeys())
            stream.getDict().replaceKey(key, dict.getKey(key));
    }
    if (!page.alpha.isEmpty()) {
        QPDFObjectHandle mask = QPDFObjectHandle::newStream(&pdf);
        mask.replaceStreamData(page.alpha.toStdString(), QPDFObjectHandle::newName("/FlateDecode"),
                               QPDFObjectHandle::newNull());
        QPDFObjectHandle maskDict = mask.getDict();
        maskDict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
        maskDict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
        maskDict.replaceKey("/Width", QPDFObjectHandle::newInteger(page.width));
        maskDict.replaceKey("/Height", QPDFObjectHandle::newInteger(page.height));
        maskDict.replaceKey("/ColorSpace", QPDFObjectHandle::newName("/DeviceGray"));
        maskDict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
        stream.getDict().replaceKey("/SMask", mask);
    }
    return stream;
}

} // namespace

bool ImagesToPdf::hasAdobeMarker(const QString& jpegFile)
{
    QFile file(jpegFile);
    if (!file.open(QIODevice::ReadOnly) || file.read(2) != QByteArray("\xff\xd8", 2))
        return false;
    // Marker segments up to the first scan, each skipped by its length.
    for (;;) {
        QByteArray head = file.read(2);
        while (head.size() == 2 && uchar(head[1]) == 0xff) // fill bytes
            head = head.right(1) + file.read(1);
        if (head.size() != 2 || uchar(head[0]) != 0xff)
            return false;
        const uchar marker = uchar(head[1]);
        if (marker == 0xda || marker == 0xd9)
            return false;
        if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7))
            continue; // no length
        const QByteArray lengthBytes = file.read(2);
        if (lengthBytes.size() != 2)
            return false;
        const int length = (uchar(lengthBytes[0]) << 8) | uchar(lengthBytes[1]);
        if (length < 2)
            return false;
        if (marker == 0xee && length >= 2 + 12) {
            if (file.peek(5) == "Adobe")
                return true;
        }
        if (!file.seek(file.pos() + length - 2))
            return false;
    }
}

double ImagesToPdf::pagePoints(int pixels, double dpi)
{
    return pixels * 72.0 / std::max(dpi, 72.0);
}

ImagesToPdf::PageImage ImagesToPdf::pdfPageImage(const QString& file, const DecodedImage& decoded,
                                                 std::stop_token stop)
{
    PageImage page;
    page.width = decoded.width();
    page.height = decoded.height();
    // A JPEG that needs no turn goes in untouched, grey, RGB or CMYK as libvips' header says.
    if (isJpegName(file) && decoded.orientation() == 1 && !decoded.hasAlpha()) {
        const std::optional<int> components = imageBandCount(file);
        const std::optional<QSize> size = imagePixelSize(file);
        if (components && (*components == 1 || *components == 3 || *components == 4) && size
            && *size == QSize(decoded.width(), decoded.height())) {
            // Its bytes go in undecoded: a damaged file must not become a broken page.
            ImageDecoder::verify(file);
            page.sourceFile = file;
            page.components = *components;
            page.invertedCmyk = *components == 4 && hasAdobeMarker(file);
            page.colourProfile = profileFor(imageColourProfile(file), page.components);
            return page;
        }
    }
    if (!decoded.hasAlpha()) {
        try {
            int colourBands = 3;
            page.data = ImageWriter::encode(decoded, ImageOutput::jpg, 0.92, stop, &colourBands);
            page.components = colourBands;
            return page;
        } catch (const CancellationError&) {
            throw;
        } catch (const EngineError& error) {
            // A damaged input stays an error; anything else falls back to the pixels below.
            if (error.message() == ImageDecoder::damagedMessage())
                throw;
        }
    }
    const QImage pixels = decoded.toQImage().convertToFormat(QImage::Format_RGBA8888);
    throwIfCancelled(stop);
    const qsizetype count = qsizetype(pixels.width()) * pixels.height();
    QByteArray rgb(count * 3, Qt::Uninitialized);
    QByteArray alpha(count, Qt::Uninitialized);
    qsizetype at = 0;
    for (int y = 0; y < pixels.height(); ++y) {
        const uchar* line = pixels.constScanLine(y);
        for (int x = 0; x < pixels.width(); ++x, ++at) {
            rgb[at * 3] = char(line[x * 4]);
            rgb[at * 3 + 1] = char(line[x * 4 + 1]);
            rgb[at * 3 + 2] = char(line[x * 4 + 2]);
            alpha[at] = char(line[x * 4 + 3]);
        }
    }
    page.encoding = PageImage::Encoding::flate;
    page.components = 3;
    page.width = pixels.width();
    page.height = pixels.height();
    page.data = flate(rgb);
    if (decoded.hasAlpha())
        page.alpha = flate(alpha);
    return page;
}

void ImagesToPdf::makePDF(const QStringList& imageFiles, const QString& destination, Progress* progress,
                          std::stop_token stop)
{
    QPDF pdf;
    auto files = std::make_shared<JpegFiles>();
    try {
        pdf.emptyPDF();
        pdf.getTrailer().replaceKey(
            "/Info", pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Creator (Quorvenda) >>")));
    } catch (const std::exception& error) {
        throw EngineError(cannotCreate(), QString::fromUtf8(error.what()));
    }
    QPDFPageDocumentHelper pages(pdf);
    const qsizetype count = imageFiles.size();
    for (qsizetype index = 0; index < count; ++index) {
        const QString& file = imageFiles[index];
        // Every page of a multi-page TIFF becomes a page of its own.
        const int filePages = TiffPages::count(file);
        for (int filePage = 0; filePage < filePages; ++filePage) {
            throwIfCancelled(stop);
            const DecodedImage decoded = ImageDecoder::decode(file, std::nullopt, filePage);
            const PageImage picture = pdfPageImage(file, decoded, stop);
            const double width = pagePoints(decoded.width(), decoded.dpi());
            const double height = pagePoints(decoded.height(), decoded.dpi());
            try {
                QPDFObjectHandle image = imageStream(pdf, picture, files);
                const std::string drawing = "q " + QPDFObjectHandle::newReal(width, 4).unparse() + " 0 0 "
                    + QPDFObjectHandle::newReal(height, 4).unparse() + " 0 0 cm /Im0 Do Q";
                QPDFObjectHandle contents = QPDFObjectHandle::newStream(&pdf, drawing);
                QPDFObjectHandle page = pdf.makeIndirectObject(QPDFObjectHandle::parse(
                    "<< /Type /Page /MediaBox [0 0 " + QPDFObjectHandle::newReal(width, 4).unparse() + " "
                    + QPDFObjectHandle::newReal(height, 4).unparse() + "] /Resources << /XObject << >> >> >>"));
                page.getKey("/Resources").getKey("/XObject").replaceKey("/Im0", image);
                page.replaceKey("/Contents", contents);
                pages.addPage(QPDFPageObjectHelper(page), false);
            } catch (const std::exception& error) {
                throw EngineError(cannotCreate(), QString::fromUtf8(error.what()));
            }
        }
        if (progress)
            reportProgress(double(index + 1) / double(count), *progress);
    }
    throwIfCancelled(stop);
    bool created = false;
    try {
        CheckedFile file(destination);
        created = true;
        QPDFWriter writer(pdf);
        writer.setOutputPipeline(&file);
        writer.setStreamDataMode(qpdf_s_preserve);
        // Soft masks came with PDF 1.4.
        writer.setMinimumPDFVersion("1.4");
        writer.write();
        file.commit();
    } catch (const std::exception& error) {
        if (created)
            QFile::remove(destination);
        throw EngineError(cannotCreate(), QString::fromUtf8(error.what()));
    }
}

} // namespace qv
