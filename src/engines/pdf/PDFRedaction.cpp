// Redaction: a boxed page is drawn at 300 dpi, the boxes painted black, and the page object is
// replaced where it stands by a page holding only that picture, so that the outline, links and
// anything else pointing at the page now reach the picture and nothing of the old page remains.

#include "engines/pdf/PDFEngine.h"
#include "engines/pdf/PdfPagePictures.h"

#include "engines/pdf/PDFRenderer.h"
#include "engines/pdf/QpdfGuard.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>

#include <cmath>

namespace qv {

namespace {

// A page that could not be drawn; damage found while drawing it keeps its own sentence.
EngineError notRedacted(const EngineError& cause)
{
    if (cause.message() == QLatin1String("This file is damaged or not in a supported format"))
        return cause;
    return EngineError(QStringLiteral("This page couldn't be redacted"), cause.message());
}

EngineError notRedacted(const QString& log = {})
{
    return EngineError(QStringLiteral("This page couldn't be redacted"), log);
}

QPDFObjectHandle rectangle(double width, double height)
{
    return QPDFObjectHandle::newArray(std::vector<QPDFObjectHandle>{
        QPDFObjectHandle::newInteger(0), QPDFObjectHandle::newInteger(0),
        QPDFObjectHandle::newReal(width, 3), QPDFObjectHandle::newReal(height, 3)});
}

// The page as a picture with its boxes black, JPEG-encoded.
QByteArray redactedPicture(const PDFRenderer& renderer, int index, const QList<QRectF>& boxes,
                           QSize& pixels, QSizeF& points, std::stop_token stop)
{
    try {
        points = renderer.pageSize(index);
    } catch (const EngineError& e) {
        throw notRedacted(e);
    }
    const double scale = PDFEngine::redactionDPI / 72.0;
    pixels = QSize(std::max(1, int(points.width() * scale)), std::max(1, int(points.height() * scale)));

    QTransform pageToPixel;
    QImage image;
    try {
        image = renderer.renderToSize(index, pixels, stop, &pageToPixel);
    } catch (const EngineError& e) {
        throw notRedacted(e);
    }
    if (image.isNull())
        throw EngineError(QStringLiteral("This page is too large to redact"));

    {
        QPainter painter(&image);
        // Whole pixels, rounded outwards: a box never leaves a sliver of what it covers.
        for (const QRectF& box : boxes)
            painter.fillRect(pageToPixel.mapRect(box.normalized()).toAlignedRect(), Qt::black);
    }

    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(85);
    if (!writer.write(image))
        throw notRedacted(writer.errorString());
    return jpeg;
}

// Everything the old page carried that could hold its words: its annotations, also when a
// form lists them as fields.
void dropAnnotations(QPDF& qpdf, QPDFObjectHandle page)
{
    QPDFObjectHandle annotations = page.getKey("/Annots");
    if (!annotations.isArray())
        return;
    for (QPDFObjectHandle& annotation : annotations.getArrayAsVector())
        if (annotation.isIndirect())
            qpdf.replaceObject(annotation.getObjGen(), QPDFObjectHandle::newNull());
}

} // namespace

QUrl PDFEngine::redact(const QString& path, const std::optional<QString>& password,
                       const QMap<int, QList<QRectF>>& redactions, const PDFWork& work)
{
    const PDFDocument document = open(path, password);
    QList<int> boxed;
    for (auto it = redactions.cbegin(); it != redactions.cend(); ++it)
        if (!it.value().isEmpty())
            boxed.append(it.key());
    if (boxed.isEmpty())
        throw EngineError(QStringLiteral("Draw at least one box to redact"));
    // Boxed pages are drawn and the others copied: neither may pass on a damaged picture.
    PdfPagePictures::checkJpegs(document, std::nullopt, work.stop);

    QPDF& qpdf = document.qpdf();
    const std::vector<QPDFPageObjectHelper> pages =
        guardedRead([&] { return QPDFPageDocumentHelper(qpdf).getAllPages(); });
    PDFRenderer& renderer = document.renderer();
    bool replaced = false;
    for (qsizetype k = 0; k < boxed.size(); ++k) {
        throwIfCancelled(work.stop);
        const int index = boxed[k];
        if (index < 0 || index >= int(pages.size()))
            continue;

        QSize pixels;
        QSizeF points;
        const QByteArray jpeg = redactedPicture(renderer, index, redactions.value(index), pixels,
                                                points, work.stop);

        QPDFObjectHandle picture = QPDFObjectHandle::newStream(&qpdf);
        picture.replaceStreamData(jpeg.toStdString(), QPDFObjectHandle::newName("/DCTDecode"),
                                  QPDFObjectHandle::newNull());
        QPDFObjectHandle pictureDict = picture.getDict();
        pictureDict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
        pictureDict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
        pictureDict.replaceKey("/Width", QPDFObjectHandle::newInteger(pixels.width()));
        pictureDict.replaceKey("/Height", QPDFObjectHandle::newInteger(pixels.height()));
        pictureDict.replaceKey("/ColorSpace", QPDFObjectHandle::newName("/DeviceRGB"));
        pictureDict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));

        const QString drawing = QStringLiteral("q %1 0 0 %2 0 0 cm /Im0 Do Q\n")
                                    .arg(points.width(), 0, 'f', 3)
                                    .arg(points.height(), 0, 'f', 3);
        QPDFObjectHandle contents = QPDFObjectHandle::newStream(&qpdf, drawing.toStdString());

        QPDFObjectHandle old = pages[size_t(index)].getObjectHandle();
        QPDFObjectHandle page = QPDFObjectHandle::newDictionary();
        page.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
        page.replaceKey("/Parent", old.getKey("/Parent"));
        // Stated on the page itself, so nothing inherited from the page tree applies.
        page.replaceKey("/MediaBox", rectangle(points.width(), points.height()));
        page.replaceKey("/CropBox", rectangle(points.width(), points.height()));
        page.replaceKey("/Rotate", QPDFObjectHandle::newInteger(0));
        QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
        xobjects.replaceKey("/Im0", picture);
        QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
        resources.replaceKey("/XObject", xobjects);
        page.replaceKey("/Resources", resources);
        page.replaceKey("/Contents", contents);

        guardedRead([&] {
            dropAnnotations(qpdf, old);
            qpdf.replaceObject(old.getObjGen(), page);
        });
        replaced = true;
        work.report(double(k + 1) / double(boxed.size()) * 0.9);
    }

    if (replaced) {
        qpdf.updateAllPagesCache();
        // The structure tree keeps the words of tagged pages (alternate and actual text).
        qpdf.getRoot().removeKey("/StructTreeRoot");
        qpdf.getRoot().removeKey("/MarkInfo");
    }
    const QUrl file = work.workFile(QStringLiteral("pdf"));
    document.write(file.toLocalFile());
    throwIfCancelled(work.stop);
    work.report(1.0);
    // The redacted pages are pictures now: their stand-ins stay in the file.
    if (work.notes && renderer.drewStandIns())
        work.notes->addMessage(PDFRenderer::standInsNote());
    return work.place(file, work.nameFor(QStringLiteral("redact")), QStringLiteral("pdf"));
}

} // namespace qv
