#include "engines/pdf/PDFEngine.h"
#include "engines/pdf/PdfPagePictures.h"

#include "engines/pdf/PdfFileSource.h"
#include "engines/pdf/PdfPassword.h"
#include "engines/pdf/PDFRenderer.h"
#include "engines/pdf/PdfRepairs.h"
#include "engines/pdf/QpdfGuard.h"
#include "model/errors/EngineError.h"

#include <qpdf/ClosedFileInputSource.hh>
#include <qpdf/Pipeline.hh>
#include <qpdf/Pl_Discard.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <QFile>

#include <algorithm>
#include <map>
#include <set>
#include <vector>

namespace qv {

namespace {

EngineError damaged()
{
    return EngineError(QStringLiteral("This file is damaged or not in a supported format"));
}

enum class Read { ok, needsPassword, damaged };

// Keeps the first two bytes of what passes.
class JpegStart : public Pipeline {
public:
    JpegStart() : Pipeline("jpeg start", nullptr) {}
    void write(unsigned char const* data, size_t length) override
    {
        for (size_t i = 0; i < length && m_head.size() < 2; ++i)
            m_head.push_back(data[i]);
    }
    void finish() override {}
    bool startsLikeJpeg() const { return m_head.size() == 2 && m_head[0] == 0xFF && m_head[1] == 0xD8; }

private:
    std::vector<unsigned char> m_head;
};

// A page's JPEG picture that is no JPEG at all: the writing tools would copy it as it is, and
// every reader draws nothing of it ("Not a JPEG file"). Only its first bytes are looked at, so
// no picture is decoded; a picture the pages share is looked at once.
void checkPageJpegs(QPDFPageObjectHelper& page, std::set<QPDFObjGen>& seen)
{
    for (auto& [name, image] : page.getImages()) {
        if (image.isIndirect() && !seen.insert(image.getObjGen()).second)
            continue;
        // A JPEG behind another filter is not looked into.
        QPDFObjectHandle filter = image.getDict().getKey("/Filter");
        if (filter.isArray() && filter.getArrayNItems() == 1)
            filter = filter.getArrayItem(0);
        if (!filter.isNameAndEquals("/DCTDecode"))
            continue;
        JpegStart start;
        image.pipeStreamData(&start, nullptr, 0, qpdf_dl_generalized);
        if (!start.startsLikeJpeg())
            throw std::runtime_error("a page's JPEG picture is no JPEG");
    }
}

// A key made from a damaged encryption dictionary decrypts to noise without a word from the
// reader, and a page's damaged content would be copied as it is by every writing tool: decoding
// what the pages draw finds both. Parsing decodes as well, and finds a drawing that does not
// read, for the tools that copy pages as they are. The JPEG pictures' first bytes are looked at
// unless the caller parses every one of them anyway.
void decodePageContents(QPDF& qpdf, bool parse, bool jpegStarts)
{
    if (parse)
        PdfRepairs::parsePageContents(qpdf);
    Pl_Discard discard;
    std::set<QPDFObjGen> seen;
    for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(qpdf).getAllPages()) {
        if (!parse) {
            for (QPDFObjectHandle& stream : page.getPageContents()) {
                if (stream.isStream() && !stream.pipeStreamData(&discard, nullptr, 0, qpdf_dl_generalized))
                    throw std::runtime_error("a page's content does not decode");
            }
        }
        if (jpegStarts)
            checkPageJpegs(page, seen);
    }
}

Read readInto(QPDF& qpdf, const QByteArray& path, const char* password,
              const std::shared_ptr<ClosedFileInputSource>& closed, bool parsePages, bool jpegStarts)
{
    qpdf.setSuppressWarnings(true);
    try {
        if (closed)
            qpdf.processInputSource(closed, password);
        else
            qpdf.processInputSource(std::make_shared<PdfFileSource>(path.toStdString()), password);
        // A broken page tree shows only when the pages are asked for.
        (void)QPDFPageDocumentHelper(qpdf).getAllPages();
        decodePageContents(qpdf, parsePages, jpegStarts);
        // A damaged encryption dictionary, a stream that does not decode, a table rebuilt with
        // objects missing: what qpdf warns about is damage, not a file to work from, unless
        // the repair restored the file exactly.
        if (!PdfRepairs::qpdfRepairedExactly(qpdf))
            return Read::damaged;
        return Read::ok;
    } catch (const QPDFExc& e) {
        return e.getErrorCode() == qpdf_e_password ? Read::needsPassword : Read::damaged;
    } catch (const std::exception&) {
        return Read::damaged;
    }
}

} // namespace

PDFDocument PDFEngine::open(const QString& path, const std::optional<QString>& password)
{
    return openFile(path, password, true);
}

PDFDocument PDFEngine::openFile(const QString& path, const std::optional<QString>& password,
                                bool keepOpen, bool parsePages, bool picturesParsedLater)
{
    const QByteArray native = QFile::encodeName(path);
    // A source that opens its file only while it is read, for documents held by the hundred.
    const auto source = [&]() -> std::shared_ptr<ClosedFileInputSource> {
        if (keepOpen)
            return nullptr;
        auto closed = std::make_shared<ClosedFileInputSource>(native.constData());
        closed->stayOpen(true);
        return closed;
    };
    const auto made = [&](std::shared_ptr<QPDF> qpdf, std::optional<QString> used,
                          std::shared_ptr<ClosedFileInputSource> closed) {
        PDFDocument document(std::move(qpdf), path, std::move(used));
        if (parsePages)
            document.markPagesRead();
        if (closed) {
            closed->stayOpen(false);
            document.setFileKeeper([closed](bool open) { closed->stayOpen(open); });
        }
        return document;
    };
    auto qpdf = std::make_shared<QPDF>();
    auto closed = source();
    switch (readInto(*qpdf, native, nullptr, closed, parsePages, !picturesParsedLater)) {
    case Read::ok:
        return made(qpdf, std::nullopt, closed);
    case Read::damaged:
        throw damaged();
    case Read::needsPassword:
        break;
    }
    if (!password)
        throw EngineError(QStringLiteral("PDF is password-protected"));
    // As typed first, then prepared as PDF 2.0 stores it, then as the older revisions do.
    for (const PdfPassword::Candidate& attempt : PdfPassword::candidates(*password)) {
        qpdf = std::make_shared<QPDF>();
        closed = source();
        switch (readInto(*qpdf, native, attempt.bytes.constData(), closed, parsePages, !picturesParsedLater)) {
        case Read::ok:
            return made(qpdf, attempt.text, closed);
        case Read::damaged:
            throw damaged();
        case Read::needsPassword:
            break;
        }
    }
    throw EngineError(QStringLiteral("That password didn't unlock the PDF"));
}

PDFDocument PDFEngine::readAgain(const PDFDocument& document)
{
    const std::string native = QFile::encodeName(document.path()).toStdString();
    std::vector<QByteArray> keys{QByteArray()};
    if (document.password()) {
        for (const PdfPassword::Candidate& attempt : PdfPassword::candidates(*document.password()))
            keys.push_back(attempt.bytes);
    }
    for (const QByteArray& key : keys) {
        auto qpdf = std::make_shared<QPDF>();
        qpdf->setSuppressWarnings(true);
        try {
            qpdf->processInputSource(std::make_shared<PdfFileSource>(native), key.isNull() ? nullptr : key.constData());
            (void)QPDFPageDocumentHelper(*qpdf).getAllPages();
        } catch (const QPDFExc& e) {
            if (e.getErrorCode() == qpdf_e_password)
                continue;
            throw damaged();
        } catch (const std::exception&) {
            throw damaged();
        }
        if (!PdfRepairs::qpdfRepairedExactly(*qpdf))
            throw damaged();
        PDFDocument again(qpdf, document.path(), document.password());
        again.markPagesRead();
        return again;
    }
    throw EngineError(QStringLiteral("That password didn't unlock the PDF"));
}

QImage PDFEngine::renderPage(const PDFDocument& document, int pageIndex, double dpi,
                             std::stop_token stop)
{
    // MuPDF draws a damaged JPEG without a warning it passes on.
    PdfPagePictures::checkJpegs(document, QList<int>{pageIndex}, stop);
    return document.renderer().render(pageIndex, dpi, stop);
}

PDFDocument PDFEngine::copyPages(const PDFDocument& document, const QList<int>& pageIndices)
{
    return guardedRead([&] { return copyPagesOf(document, pageIndices); });
}

PDFDocument PDFEngine::copyPagesOf(const PDFDocument& document, const QList<int>& pageIndices)
{
    QPDF& source = document.qpdf();
    // Inherited resources, boxes and rotation must travel with each page.
    source.pushInheritedAttributesToPage();
    // qpdf's own list, not helpers made of it anew: a split copies from it once per part.
    const std::vector<QPDFObjectHandle> pages = source.getAllPages();

    auto result = std::make_shared<QPDF>();
    result->emptyPDF();
    result->setSuppressWarnings(true);
    QPDFPageDocumentHelper out(*result);
    std::map<int, QPDFObjectHandle> copied;
    for (int index : pageIndices) {
        if (index < 0 || index >= int(pages.size()))
            continue;
        const auto it = copied.find(index);
        if (it != copied.end()) {
            // The same page again shares its contents with the first copy.
            out.addPage(QPDFPageObjectHelper(it->second).shallowCopyPage(), false);
            continue;
        }
        QPDFObjectHandle page = result->copyForeignObject(pages[size_t(index)]);
        out.addPage(QPDFPageObjectHelper(page), false);
        copied.emplace(index, page);
    }
    PDFDocument copy(result, QString(), std::nullopt);
    if (document.pagesRead())
        copy.markPagesRead();
    return copy;
}

QString PDFEngine::plainText(const QString& path, const std::optional<QString>& password)
{
    const PDFDocument document = open(path, password);
    PDFRenderer& renderer = document.renderer();
    QStringList pages;
    const int count = renderer.pageCount();
    for (int i = 0; i < count; ++i) {
        QString text = renderer.text(i);
        // MuPDF ends every line and block with a line feed; the page break is the join's.
        while (text.endsWith(QLatin1Char('\n')))
            text.chop(1);
        pages.append(text);
    }
    return pages.join(QStringLiteral("\n\n"));
}

bool PDFEngine::holdsReadableText(QStringView text)
{
    for (const QChar c : text) {
        if (c.isSpace() || c == QChar::ReplacementCharacter)
            continue;
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format)
            continue;
        return true;
    }
    return false;
}

QList<QList<int>> PDFEngine::splitGroups(const SplitMode& mode, int pageCount)
{
    QList<QList<int>> groups;
    if (const auto* every = mode.get<SplitMode::EveryNPages>()) {
        const int size = every->pages < 2 ? 1 : every->pages;
        for (int start = 0; start < pageCount; start += size) {
            QList<int> group;
            for (int page = start; page < std::min(start + size, pageCount); ++page)
                group.append(page);
            groups.append(group);
        }
        return groups;
    }
    if (const auto* ranges = mode.get<SplitMode::Ranges>()) {
        for (const PageRange& range : ranges->ranges) {
            const int lower = std::max(range.lower, 1);
            const int upper = std::min(range.upper, pageCount);
            if (lower > upper)
                continue;
            QList<int> group;
            for (int page = lower; page <= upper; ++page)
                group.append(page - 1);
            groups.append(group);
        }
        return groups;
    }
    for (int page = 0; page < pageCount; ++page)
        groups.append(QList<int>{page});
    return groups;
}

QString PDFEngine::pageLabel(QList<int> pageNumbers)
{
    std::sort(pageNumbers.begin(), pageNumbers.end());
    pageNumbers.erase(std::unique(pageNumbers.begin(), pageNumbers.end()), pageNumbers.end());
    QStringList pieces;
    for (qsizetype i = 0; i < pageNumbers.size();) {
        qsizetype j = i;
        while (j + 1 < pageNumbers.size() && pageNumbers[j + 1] == pageNumbers[j] + 1)
            ++j;
        pieces.append(j == i ? QString::number(pageNumbers[i])
                             : QString::number(pageNumbers[i]) + QLatin1Char('-')
                                   + QString::number(pageNumbers[j]));
        i = j + 1;
    }
    return pieces.join(QStringLiteral(", "));
}

} // namespace qv
