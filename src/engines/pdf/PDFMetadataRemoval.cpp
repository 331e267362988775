// Metadata removal: the document information is emptied and every /Metadata entry goes; the
// written copy is then read back, every stream decompressed, to prove no XMP is left.

#include "engines/pdf/PDFEngine.h"
#include "engines/pdf/PdfPagePictures.h"

#include "engines/pdf/QpdfGuard.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>

#include <QRegularExpression>

#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace qv {

namespace {

EngineError notRemoved(const QString& log = {})
{
    return EngineError(QStringLiteral("Couldn't remove the metadata"), log);
}

bool isJpegStream(QPDFObjectHandle stream)
{
    QPDFObjectHandle filter = stream.getDict().getKey("/Filter");
    if (filter.isArray() && filter.getArrayNItems() == 1)
        filter = filter.getArrayItem(0);
    return filter.isName() && filter.getName() == "/DCTDecode";
}

// The JPEG without its EXIF, XMP, IPTC and comment segments; the picture, its colour profile
// and its colour transform stay. None when the data is not a JPEG this can walk.
std::optional<std::string> withoutJpegMetadata(std::string_view jpeg)
{
    if (jpeg.size() < 4 || uchar(jpeg[0]) != 0xFF || uchar(jpeg[1]) != 0xD8)
        return std::nullopt;
    std::string out(jpeg.substr(0, 2));
    size_t at = 2;
    bool dropped = false;
    while (at + 4 <= jpeg.size()) {
        if (uchar(jpeg[at]) != 0xFF)
            return std::nullopt;
        const uchar marker = uchar(jpeg[at + 1]);
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0xDA) { // start of scan: the rest is picture
            out.append(jpeg.substr(at));
            return dropped ? std::optional<std::string>(std::move(out)) : std::nullopt;
        }
        const size_t length = size_t(uchar(jpeg[at + 2])) << 8 | uchar(jpeg[at + 3]);
        if (length < 2 || at + 2 + length > jpeg.size())
            return std::nullopt;
        const std::string_view segment = jpeg.substr(at, 2 + length);
        // APP1 (EXIF, XMP), APP13 (IPTC) and comments.
        if (marker == 0xE1 || marker == 0xED || marker == 0xFE)
            dropped = true;
        else
            out.append(segment);
        at += 2 + length;
    }
    return std::nullopt;
}

void removeJpegMetadata(QPDFObjectHandle stream)
{
    std::shared_ptr<Buffer> raw;
    try {
        raw = stream.getRawStreamData();
    } catch (const std::exception&) {
        return;
    }
    const std::optional<std::string> clean = withoutJpegMetadata(
        std::string_view(reinterpret_cast<const char*>(raw->getBuffer()), raw->getSize()));
    if (clean) {
        QPDFObjectHandle dict = stream.getDict();
        stream.replaceStreamData(*clean, dict.getKey("/Filter"), dict.getKey("/DecodeParms"));
    }
}

// The files attached to the document, by their streams: the user's own files carried inside,
// whose contents are not the document's metadata.
std::set<QPDFObjGen> attachedFiles(QPDF& qpdf)
{
    std::set<QPDFObjGen> files;
    for (QPDFObjectHandle& object : qpdf.getAllObjects()) {
        QPDFObjectHandle dictionary = object.isStream() ? object.getDict() : object;
        if (!dictionary.isDictionary())
            continue;
        if (object.isStream() && dictionary.getKey("/Type").isNameAndEquals("/EmbeddedFile"))
            files.insert(object.getObjGen());
        QPDFObjectHandle embedded = dictionary.getKey("/EF");
        if (!embedded.isDictionary())
            continue;
        for (auto [key, file] : embedded.getDictAsMap()) {
            if (file.isStream())
                files.insert(file.getObjGen());
        }
    }
    return files;
}

// An XFA form keeps an XMP packet of its own among its packets: as a part of the /XFA array,
// or as an element of the one stream that holds them all.
void removeXfaMetadata(QPDF& qpdf)
{
    QPDFObjectHandle form = qpdf.getRoot().getKey("/AcroForm");
    if (!form.isDictionary())
        return;
    QPDFObjectHandle xfa = form.getKey("/XFA");
    if (xfa.isArray()) {
        QPDFObjectHandle kept = QPDFObjectHandle::newArray();
        const int count = xfa.getArrayNItems();
        for (int i = 0; i < count; i += 2) {
            QPDFObjectHandle name = xfa.getArrayItem(i);
            if (name.isString() && name.getUTF8Value() == "xmpmeta")
                continue;
            kept.appendItem(name);
            if (i + 1 < count)
                kept.appendItem(xfa.getArrayItem(i + 1));
        }
        form.replaceKey("/XFA", kept);
        return;
    }
    if (!xfa.isStream())
        return;
    std::shared_ptr<Buffer> data;
    try {
        data = xfa.getStreamData(qpdf_dl_generalized);
    } catch (const std::exception&) {
        return;
    }
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data->getBuffer()), qsizetype(data->getSize()));
    static const QRegularExpression packet(QStringLiteral("<([A-Za-z0-9_]+:)?xmpmeta\\b.*</([A-Za-z0-9_]+:)?xmpmeta>"),
                                           QRegularExpression::DotMatchesEverythingOption
                                               | QRegularExpression::InvertedGreedinessOption);
    QString cleaned = text;
    cleaned.remove(packet);
    if (cleaned != text)
        xfa.replaceStreamData(cleaned.toStdString(), QPDFObjectHandle::newNull(), QPDFObjectHandle::newNull());
}

void removeMetadataEntries(QPDF& qpdf)
{
    removeXfaMetadata(qpdf);
    // An attached file keeps what it says, but not the dates of its attaching.
    for (const QPDFObjGen& file : attachedFiles(qpdf)) {
        QPDFObjectHandle parameters = qpdf.getObject(file).getDict().getKey("/Params");
        if (!parameters.isDictionary())
            continue;
        parameters.removeKey("/CreationDate");
        parameters.removeKey("/ModDate");
    }
    for (QPDFObjectHandle& object : qpdf.getAllObjects()) {
        // Pictures carry their camera's data, places included.
        if (object.isStream() && isJpegStream(object))
            removeJpegMetadata(object);
        QPDFObjectHandle dictionary = object.isStream() ? object.getDict() : object;
        if (dictionary.isDictionary() && dictionary.hasKey("/Metadata"))
            dictionary.removeKey("/Metadata");
    }
    QPDFObjectHandle root = qpdf.getRoot();
    root.removeKey("/Metadata");
    // Page-piece data of editing programs carries their private metadata.
    root.removeKey("/PieceInfo");
    qpdf.getTrailer().removeKey("/Info");
}

// Whether any stream of the file, decompressed, still holds an XMP packet.
bool streamHoldsXMP(const PDFDocument& written)
{
    constexpr std::string_view marker = "xmpmeta";
    const std::set<QPDFObjGen> attached = attachedFiles(written.qpdf());
    for (QPDFObjectHandle& object : written.qpdf().getAllObjects()) {
        if (!object.isStream() || attached.count(object.getObjGen()))
            continue;
        // Decoded as qpdf --qdf shows it: filters undone, pictures left as they are stored.
        std::shared_ptr<Buffer> buffer;
        try {
            buffer = object.getStreamData(qpdf_dl_generalized);
        } catch (const std::exception&) {
            buffer = object.getRawStreamData();
        }
        const std::string_view data(reinterpret_cast<const char*>(buffer->getBuffer()),
                                    buffer->getSize());
        if (data.find(marker) != std::string::npos)
            return true;
    }
    return false;
}

bool holdsXMP(const QString& path)
{
    const PDFDocument written = PDFEngine::open(path);
    return guardedRead([&] { return streamHoldsXMP(written); });
}

} // namespace

QUrl PDFEngine::removeMetadata(const QString& path, const std::optional<QString>& password,
                               const PDFWork& work)
{
    const PDFDocument document = open(path, password);
    PdfPagePictures::checkJpegs(document, std::nullopt, work.stop);
    guardedRead([&] { removeMetadataEntries(document.qpdf()); });
    throwIfCancelled(work.stop);
    const QUrl file = work.workFile(QStringLiteral("pdf"));
    document.write(file.toLocalFile());
    work.report(0.8);
    throwIfCancelled(work.stop);
    try {
        if (holdsXMP(file.toLocalFile()))
            throw notRemoved(QStringLiteral("An XMP packet is still in the written copy."));
    } catch (const EngineError& e) {
        if (e.message() == QLatin1String("Couldn't remove the metadata"))
            throw;
        throw notRemoved(e.message());
    }
    work.report(1.0);
    return work.place(file, work.nameFor(QStringLiteral("removeMetadata")), QStringLiteral("pdf"));
}

} // namespace qv
