#include "engines/pdf/PdfPagePictures.h"

#include "engines/image/foreign/JpegStructure.h"
#include "engines/pdf/QpdfGuard.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <set>

namespace qv {

namespace {

// A picture whose only filter is DCTDecode: its stream is the JPEG file. One behind another
// filter is left to the readers.
bool isBareJpeg(QPDFObjectHandle image)
{
    QPDFObjectHandle filter = image.getDict().getKey("/Filter");
    if (filter.isArray() && filter.getArrayNItems() == 1)
        filter = filter.getArrayItem(0);
    return filter.isNameAndEquals("/DCTDecode");
}

} // namespace

void PdfPagePictures::checkJpegs(const PDFDocument& document, const std::optional<QList<int>>& pages,
                                 std::stop_token stop)
{
    document.keepFileOpen(true);
    struct Closer {
        const PDFDocument& document;
        ~Closer() { document.keepFileOpen(false); }
    } closer{document};
    guardedRead([&] {
        std::vector<QPDFPageObjectHelper> all = QPDFPageDocumentHelper(document.qpdf()).getAllPages();
        QList<int> chosen;
        if (pages) {
            chosen = *pages;
        } else {
            for (int index = 0; index < int(all.size()); ++index)
                chosen.append(index);
        }
        std::set<QPDFObjGen> seen;
        for (int index : chosen) {
            if (index < 0 || index >= int(all.size()))
                continue;
            throwIfCancelled(stop);
            all[size_t(index)].forEachImage(true, [&](QPDFObjectHandle& image, QPDFObjectHandle&,
                                                      const std::string&) {
                if (!image.isStream() || (image.isIndirect() && !seen.insert(image.getObjGen()).second)
                    || !isBareJpeg(image))
                    return;
                const std::shared_ptr<Buffer> data = image.getRawStreamData();
                const QString fault = JpegStructure::faultOfBytes(
                    QByteArrayView(reinterpret_cast<const char*>(data->getBuffer()), qsizetype(data->getSize())));
                if (!fault.isEmpty())
                    throw EngineError(QStringLiteral("This file is damaged or not in a supported format"),
                                      QStringLiteral("A JPEG picture on page %1: %2").arg(index + 1).arg(fault));
            });
        }
    });
}

} // namespace qv
