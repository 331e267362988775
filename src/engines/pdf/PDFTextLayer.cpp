// The text layer of scanned PDFs: pages are drawn and read on a few threads at once, each with
// its own MuPDF context and its own recogniser; the layer is then written in page order.

#include "engines/pdf/PDFEngine.h"
#include "engines/pdf/PdfPagePictures.h"

#include "engines/pdf/InvisibleTextFont.h"
#include "engines/pdf/PagePixelBudget.h"
#include "engines/pdf/PDFRenderer.h"
#include "engines/pdf/QpdfGuard.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <QFile>
#include <QLineF>
#include <QScopeGuard>
#include <QThread>

#include <atomic>
#include <cmath>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace qv {

namespace {

enum class PageOutcome { nothing, hadText, gainedText };

struct PageResult {
    PageOutcome outcome = PageOutcome::nothing;
    PageTextLines lines;
    QTransform pageToPixel; // from the page's space, origin at its media box's lower left
    QSize pixels;
};

// Page pictures held at once by all workers together, and by one page: a vast page is read at
// a lower resolution rather than swamping the memory, and several large ones take turns.
constexpr qint64 pixelBudget = 160'000'000;
constexpr qint64 pagePixelLimit = 40'000'000;

// The resolution at which the page's picture stays within the page limit.
double readingDPI(QSizeF points) {
    const double area =
        std::max(points.width(), 1.0) * std::max(points.height(), 1.0) / (72.0 * 72.0);
    const double dpi = PDFEngine::textLayerDPI;
    // A little under the limit, so that sides rounded to whole pixels stay within it.
    return area * dpi * dpi <= double(pagePixelLimit)
               ? dpi
               : 0.999 * std::sqrt(double(pagePixelLimit) / area);
}

// The font is a few hundred bytes; anything much larger is not the font we mean.
constexpr qint64 maximumFontSize = 1 << 20;

QByteArray readFont(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EngineError(
            QStringLiteral("Couldn't create the PDF"),
            QStringLiteral("No text layer font at %1: %2").arg(path, file.errorString()));
    const QByteArray bytes = file.read(maximumFontSize + 1);
    if (bytes.isEmpty() || bytes.size() > maximumFontSize)
        throw EngineError(QStringLiteral("Couldn't create the PDF"),
                          QStringLiteral("The text layer font at %1 is not usable").arg(path));
    return bytes;
}

QByteArray number(double value) {
    QByteArray text = QByteArray::number(value, 'f', 4);
    while (text.endsWith('0'))
        text.chop(1);
    if (text.endsWith('.')) text.chop(1);
    return text == "-0" ? QByteArray("0") : text;
}

int characterCount(const QString& text) {
    return int(text.toUcs4().size());
}

// The lower left of the page's media box in its user space.
QPointF mediaOrigin(QPDFPageObjectHelper& page) {
    QPDFObjectHandle box = page.getMediaBox();
    if (!box.isRectangle()) return {};
    const QPDFObjectHandle::Rectangle r = box.getArrayAsRectangle();
    return QPointF(std::min(r.llx, r.urx), std::min(r.lly, r.ury));
}

// The name under which the page's resources hold the font, added when missing.
std::string fontNameOnPage(QPDFPageObjectHelper& page, QPDFObjectHandle font) {
    QPDFObjectHandle resources = page.getAttribute("/Resources", true);
    if (!resources.isDictionary()) {
        resources = QPDFObjectHandle::newDictionary();
        page.getObjectHandle().replaceKey("/Resources", resources);
    }
    QPDFObjectHandle fonts = resources.getKey("/Font");
    if (!fonts.isDictionary()) {
        fonts = QPDFObjectHandle::newDictionary();
        resources.replaceKey("/Font", fonts);
    }
    // Pages that share their resources share the name too.
    for (const std::string& key : fonts.getKeys()) {
        const QPDFObjectHandle held = fonts.getKey(key);
        if (held.isIndirect() && held.getObjGen() == font.getObjGen()) return key;
    }
    int suffix = 0;
    const std::string name = resources.getUniqueResourceName("/QvText", suffix);
    fonts.replaceKey(name, font);
    return name;
}

void setCreator(QPDF& qpdf) {
    QPDFObjectHandle trailer = qpdf.getTrailer();
    QPDFObjectHandle info = trailer.getKey("/Info");
    if (!info.isDictionary()) {
        info = qpdf.makeIndirectObject(QPDFObjectHandle::newDictionary());
        trailer.replaceKey("/Info", info);
    }
    info.replaceKey("/Creator", QPDFObjectHandle::newUnicodeString("Quorvenda"));
}

} // namespace

QByteArray PDFEngine::drawTextLayer(const PageTextLines& lines, const QTransform& pictureToPage,
                                    const QByteArray& fontName,
                                    const std::function<QByteArray(const QString&)>& encode) {
    // How long one unit of the picture's width and height is on the page, in points.
    const double across =
        QLineF(pictureToPage.map(QPointF(0, 0)), pictureToPage.map(QPointF(1, 0))).length();
    const double up =
        QLineF(pictureToPage.map(QPointF(0, 0)), pictureToPage.map(QPointF(0, 1))).length();
    QByteArray content = "q\nBT\n3 Tr\n/" + fontName + " 1 Tf\n";
    for (const PageTextLine& line : lines) {
        const double width = line.box.width() * across;
        const double height = line.box.height() * up;
        if (width <= 1 || height <= 1) continue;
        const QByteArray codes = encode(line.text);
        const int glyphs = int(codes.size() - 2) / 4;
        if (glyphs < 1) continue;
        const double size = std::max(height * 0.85, 1.0);
        // Every glyph is half an em wide: the line as set, before stretching.
        const double natural = glyphs * 0.5 * size;
        // Text space: one unit is the font size both ways, along the picture's axes; the baseline
        // sits 18 % of the box's height above its bottom.
        const QTransform matrix = QTransform(size / across, 0, 0, size / up, line.box.x(),
                                             line.box.y() + line.box.height() * 0.18) *
                                  pictureToPage;
        content += number(matrix.m11()) + ' ' + number(matrix.m12()) + ' ' + number(matrix.m21()) +
                   ' ' + number(matrix.m22()) + ' ' + number(matrix.dx()) + ' ' +
                   number(matrix.dy()) + " Tm\n" + number(100.0 * width / natural) + " Tz\n" +
                   codes + " Tj\n";
    }
    content += "ET\nQ\n";
    return content;
}

QUrl PDFEngine::addTextLayer(const QString& path, const PageTextReader& read,
                             const QString& fontFile, const PDFWork& work) {
    const PDFDocument document = open(path);
    PdfPagePictures::checkJpegs(document, std::nullopt, work.stop);
    const QByteArray program = readFont(fontFile);
    PDFRenderer& first = document.renderer();
    const int count = document.pageCount();
    std::vector<PageResult> results(size_t(std::max(count, 0)));

    // Stops the other workers at the first failure, and all of them when the job stops.
    std::stop_source stopAll;
    std::stop_callback forward(work.stop, [&stopAll] { stopAll.request_stop(); });
    std::atomic<int> next{0};
    std::atomic<int> done{0};
    std::mutex failureLock;
    std::exception_ptr failure;
    std::atomic<bool> standIns{false};
    PagePixelBudget budget(pixelBudget);

    const auto readPages = [&](PDFRenderer& renderer) {
        try {
            for (int index = next++; index < count && !stopAll.stop_requested(); index = next++) {
                PageResult& result = results[size_t(index)];
                if (characterCount(renderer.text(index).trimmed()) >= textLayerMinimumText) {
                    result.outcome = PageOutcome::hadText;
                } else {
                    const QSizeF points = renderer.pageSize(index);
                    const double dpi = readingDPI(points);
                    const qint64 pixels = qint64(std::ceil(points.width() * dpi / 72 + 1)) *
                                          qint64(std::ceil(points.height() * dpi / 72 + 1));
                    if (!budget.take(pixels, stopAll.get_token())) break;
                    const auto giveBack = qScopeGuard([&] { budget.give(pixels); });
                    // One page picture per worker at a time, gone before the next page.
                    // Drawn in grey, as the recogniser reads it.
                    const QImage picture =
                        renderer.render(index, dpi, stopAll.get_token(), &result.pageToPixel, true);
                    result.pixels = picture.size();
                    if (renderer.drewStandIns())
                        standIns = true;
                    result.lines = read(picture, dpi, stopAll.get_token());
                    if (!result.lines.isEmpty()) result.outcome = PageOutcome::gainedText;
                }
                work.report(double(++done) / double(std::max(count, 1)));
            }
        } catch (...) {
            std::lock_guard locker(failureLock);
            if (!failure) failure = std::current_exception();
            stopAll.request_stop();
        }
    };

    const int workers = std::clamp(QThread::idealThreadCount(), 1, std::max(count, 1));
    first.runOnClones(workers, readPages);
    throwIfCancelled(work.stop);
    if (failure) std::rethrow_exception(failure);

    int gained = 0;
    int hadText = 0;
    InvisibleTextFont font;
    for (const PageResult& result : results) {
        if (result.outcome == PageOutcome::hadText) ++hadText;
        if (result.outcome != PageOutcome::gainedText) continue;
        ++gained;
        for (const PageTextLine& line : result.lines)
            font.add(line.text);
    }
    if (gained == 0) {
        throw EngineError(hadText > 0 ? QStringLiteral("This PDF already has selectable text")
                                      : QStringLiteral("No text was found"));
    }

    guardedRead([&] {
        QPDF& qpdf = document.qpdf();
        qpdf.pushInheritedAttributesToPage();
        std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(qpdf).getAllPages();
        const QPDFObjectHandle fontObject = font.makeFont(qpdf, program);
        const auto encode = [&font](const QString& text) { return font.encode(text); };
        for (size_t index = 0; index < pages.size() && index < results.size(); ++index) {
            const PageResult& result = results[index];
            if (result.outcome != PageOutcome::gainedText) continue;
            QPDFPageObjectHelper& page = pages[index];
            const QPointF origin = mediaOrigin(page);
            const QTransform pictureToPixel(result.pixels.width(), 0, 0, -result.pixels.height(), 0,
                                            result.pixels.height());
            const QTransform pictureToPage = pictureToPixel * result.pageToPixel.inverted() *
                                             QTransform::fromTranslate(origin.x(), origin.y());
            const std::string name = fontNameOnPage(page, fontObject);
            const QByteArray layer = drawTextLayer(
                result.lines, pictureToPage, QByteArray::fromStdString(name.substr(1)), encode);
            // The page's own drawing is closed off, so that a state it leaves behind cannot move
            // the layer.
            page.addPageContents(QPDFObjectHandle::newStream(&qpdf, "q\n"), true);
            page.addPageContents(QPDFObjectHandle::newStream(&qpdf, "Q\n" + layer.toStdString()),
                                 false);
        }
        setCreator(qpdf);
    });

    throwIfCancelled(work.stop);
    const QUrl target = work.workFile(QStringLiteral("pdf"));
    document.write(target.toLocalFile());
    if (work.notes) {
        work.notes->addMessage(QStringLiteral("Text added to %1 page%2")
                                   .arg(gained)
                                   .arg(gained == 1 ? QString() : QStringLiteral("s")));
        // The text was read off pictures drawn with them.
        if (standIns)
            work.notes->addMessage(PDFRenderer::standInsNote());
    }
    return work.place(target, work.nameFor(QStringLiteral("ocr")), QStringLiteral("pdf"));
}

QStringList PDFEngine::readCodes(const QString& path, const std::optional<QString>& password,
                                 const PageCodeReader& read, std::stop_token stop, JobNotes* notes) {
    const PDFDocument document = open(path, password);
    PDFRenderer& renderer = document.renderer();
    const int count = std::min(renderer.pageCount(), codeReadingPages);
    QStringList payloads;
    for (int index = 0; index < count; ++index) {
        throwIfCancelled(stop);
        const QImage picture = renderer.render(index, codeReadingDPI, stop);
        payloads += read(picture, stop);
    }
    if (notes && renderer.drewStandIns())
        notes->addMessage(PDFRenderer::standInsNote());
    return payloads;
}

} // namespace qv
