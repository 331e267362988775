// Metadata removal: the document information is emptied and every /Metadata entry goes; the
// written copy is then read back, every stream decompressed, to prove no XMP is left.

#include "engines/pdf/PDFEngine.h"

#include "model/CancellationError.h"
#include "model/EngineError.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>

#include <string_view>

namespace qv {

namespace {

EngineError notRemoved(const QString& log = {})
{
    return EngineError(QStringLiteral("Couldn't remove the metadata"), log);
}

void removeMetadataEntries(QPDF& qpdf)
{
    for (QPDFObjectHandle& object : qpdf.getAllObjects()) {
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
bool holdsXMP(const QString& path)
{
    const PDFDocument written = PDFEngine::open(path);
    constexpr std::string_view marker = "xmpmeta";
    for (QPDFObjectHandle& object : written.qpdf().getAllObjects()) {
        if (!object.isStream())
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

} // namespace

QUrl PDFEngine::removeMetadata(const QString& path, const std::optional<QString>& password,
                               const PDFWork& work)
{
    const PDFDocument document = open(path, password);
    removeMetadataEntries(document.qpdf());
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
