// Compression: Ghostscript redraws the document with its pictures downsampled and JPEG-encoded,
// then qpdf names the creator.

#include "engines/pdf/PDFEngine.h"

#include "engines/pdf/PDFDocument.h"
#include "engines/pdf/PDFRenderer.h"
#include "engines/pdf/PdfPagePictures.h"
#include "engines/pdf/QpdfGuard.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"
#include "model/operations/Capabilities.h"
#include "model/WordsKept.h"
#include "platform/processes/ProcessRunner.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>

#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStorageInfo>

#include <cerrno>

namespace qv {

namespace {

struct LevelSettings {
    int dpi;
    double qFactor;
};

LevelSettings settingsFor(PDFCompressionLevel level)
{
    switch (level) {
    case PDFCompressionLevel::low:
        return {200, 0.8};
    case PDFCompressionLevel::high:
        return {100, 0.55};
    case PDFCompressionLevel::medium:
        break;
    }
    return {150, 0.7};
}

// Free space below this after a failed write means the write filled the disk.
constexpr qint64 fullDiskBytes = 1 << 20;

EngineError couldNotCreate(const QString& log)
{
    return EngineError(QStringLiteral("Couldn't create the PDF"), log);
}

QStringList ghostscriptArguments(const QString& source, const QString& target, PDFCompressionLevel level)
{
    const LevelSettings s = settingsFor(level);
    const QString dpi = QString::number(s.dpi);
    // Not quiet: its warnings tell of fonts and pictures it drew with stand-ins.
    QStringList args{QStringLiteral("-dSAFER"), QStringLiteral("-dBATCH"),
                     QStringLiteral("-dNOPAUSE"), QStringLiteral("-sDEVICE=pdfwrite"),
                     QStringLiteral("-dAutoRotatePages=/None"),
                     // JPEG pictures are decoded and encoded again, not passed through.
                     QStringLiteral("-dPassThroughJPEGImages=false"),
                     QStringLiteral("-dPassThroughJPXImages=false")};
    for (const char* kind : {"Color", "Gray"}) {
        args << QStringLiteral("-dDownsample%1Images=true").arg(kind)
             << QStringLiteral("-d%1ImageDownsampleType=/Bicubic").arg(kind)
             << QStringLiteral("-d%1ImageResolution=%2").arg(kind, dpi)
             << QStringLiteral("-d%1ImageDownsampleThreshold=1.0").arg(kind)
             << QStringLiteral("-dAutoFilter%1Images=false").arg(kind)
             << QStringLiteral("-d%1ImageFilter=/DCTEncode").arg(kind);
    }
    const QString q = QString::number(s.qFactor);
    const QString dict = QStringLiteral("<< /QFactor %1 /Blend 1 /HSamples [2 1 1 2] /VSamples [2 1 1 2] >>").arg(q);
    args << QStringLiteral("-sOutputFile=") + target << QStringLiteral("-c")
         << QStringLiteral("<< /ColorImageDict %1 /GrayImageDict %1 >> setdistillerparams").arg(dict)
         << QStringLiteral("-f") << source;
    return args;
}

// Ghostscript ends with status 0 when it cannot finish its file ("ioerror on closing pdfwrite
// device"); what it left is cut short. It does not say why, so a disk left without room is
// taken for the cause.
void checkGhostscriptRun(const ProcessRunner::Output& output, const QString& target)
{
    const QString log = QString::fromUtf8(output.stdoutData + output.stderrData).trimmed();
    const QString text = log.toLower();
    const bool ioError = text.contains(QLatin1String("ioerror"));
    if (text.contains(QLatin1String("no space left on device")) || text.contains(QLatin1String("disk quota exceeded"))
        || (ioError && QStorageInfo(QFileInfo(target).absolutePath()).bytesAvailable() < fullDiskBytes))
        throw SystemError::fromErrno(ENOSPC, log);
    // A page whose user unit makes it miles wide is beyond what it can set a page to.
    if (output.status != 0 && log.contains(QLatin1String("/PageSize [")))
        throw EngineError(QStringLiteral("This page is too large to compress"), log);
    // Its "**** Error:" lines tell of input it repaired; an ioerror is its own output failing.
    if (output.status != 0 || output.terminatedBySignal || ioError || !QFileInfo(target).isFile())
        throw couldNotCreate(log);
}

// Ghostscript 10 leaves an empty object ("4 0 obj endobj") for each action or field it drops from
// a form (XFA forms have many), still referenced. The format reads a missing object as null,
// and so does every reader; qpdf warns. Those warnings are let pass; any other is Ghostscript's
// failure, said as such and not as damage of the input, which was read whole before.
void acceptDroppedObjects(QPDF& qpdf)
{
    try {
        (void)qpdf.getAllObjects();
    } catch (const std::exception& e) {
        throw couldNotCreate(QString::fromUtf8(e.what()));
    }
    for (const QPDFExc& warning : qpdf.getWarnings()) {
        if (warning.getMessageDetail() != "empty object treated as null")
            throw couldNotCreate(QString::fromStdString(warning.what()));
    }
}

// Ghostscript's warnings of a font it could not load (it embeds a substitute under the same
// name), a Type3 glyph or a JBIG2 region it could not draw.
bool drewStandIns(const ProcessRunner::Output& output)
{
    static const QRegularExpression standIn(QStringLiteral("^\\*{4}.*(font|glyph|type ?3|jbig2)"),
                                            QRegularExpression::CaseInsensitiveOption
                                                | QRegularExpression::MultilineOption);
    return standIn.match(QString::fromUtf8(output.stdoutData + output.stderrData)).hasMatch();
}

// Ghostscript redraws every page and has no bound of its own on the work: a page made to be
// endless (forms that each draw the next twice, thirty deep) would keep it busy for hours.
// MuPDF reads each page first as a drawing would, within its budget.
void refuseEndlessPages(const PDFDocument& document, const PDFWork& work)
{
    PDFRenderer* renderer = nullptr;
    try {
        renderer = &document.renderer();
    } catch (const EngineError&) {
        // What MuPDF cannot open, Ghostscript may.
        return;
    }
    const int count = renderer->pageCount();
    for (int index = 0; index < count; ++index) {
        throwIfCancelled(work.stop);
        if (!renderer->withinBudget(index))
            throw EngineError(QStringLiteral("This page is too complex to compress"),
                              QStringLiteral("Page %1 costs more work than any real page").arg(index + 1));
        work.report(0.1 * (index + 1) / count);
    }
}

// Every page's text as MuPDF reads it; nothing when MuPDF cannot read the document, whose
// text is then not held against the result.
std::optional<QString> documentText(const PDFDocument& document, std::stop_token stop)
{
    try {
        PDFRenderer& renderer = document.renderer();
        QString text;
        for (int index = 0; index < renderer.pageCount(); ++index) {
            throwIfCancelled(stop);
            text += renderer.text(index) + QLatin1Char('\n');
        }
        return text;
    } catch (const EngineError&) {
        return std::nullopt;
    }
}

} // namespace

QUrl PDFEngine::compress(const FileInfo& file, PDFCompressionLevel level,
                         const std::optional<QString>& password, const PDFWork& work)
{
    QString source = file.url.toLocalFile();
    int pages = 0;
    std::optional<QString> sourceText;
    std::optional<PDFDocument> opened;
    try {
        const PDFDocument& original = opened.emplace(open(source, password));
        pages = original.pageCount();
        if (pages < 1)
            throw EngineError(QStringLiteral("This PDF has no pages"));
        refuseEndlessPages(original, work);
        // Ghostscript draws a damaged picture as whatever its decoder made of it.
        PdfPagePictures::checkJpegs(original, std::nullopt, work.stop);
        original.readPageContents();
        sourceText = documentText(original, work.stop);
        // Ghostscript is given the document as qpdf decrypts it: its own reader draws an
        // AES-256 file of an owner password alone as blank pages.
        if (original.qpdf().isEncrypted()) {
            const QUrl decrypted = work.workFile(QStringLiteral("pdf"));
            original.write(decrypted.toLocalFile());
            source = decrypted.toLocalFile();
        }
    } catch (const EngineError& e) {
        // A wrong password reads as a missing one here.
        if (e.message() == QLatin1String("That password didn't unlock the PDF"))
            throw EngineError(QStringLiteral("PDF is password-protected"));
        throw;
    }

    const std::optional<QUrl> program = Capabilities::shared().ghostscriptURL();
    if (!program)
        throw EngineError(QStringLiteral("Install Ghostscript to compress PDFs"), QStringLiteral("gs is not installed"));
    const QString gs = program->toLocalFile();
    const QUrl drawn = work.workFile(QStringLiteral("pdf"));
    const ProcessRunner::Output output =
        ProcessRunner::run(QUrl::fromLocalFile(gs),
                           ghostscriptArguments(source, drawn.toLocalFile(), level),
                           work.stop, QHash<QString, QString>{});
    throwIfCancelled(work.stop);
    checkGhostscriptRun(output, drawn.toLocalFile());
    work.report(0.8);

    PDFDocument redrawn = [&] {
        try {
            return open(drawn.toLocalFile());
        } catch (const EngineError& e) {
            throw couldNotCreate(e.message());
        }
    }();
    // A repaired cross-reference table can open a cut file with pages missing.
    if (redrawn.pageCount() != pages)
        throw couldNotCreate(QStringLiteral("Ghostscript wrote %1 of %2 pages").arg(redrawn.pageCount()).arg(pages));
    QPDF& qpdf = redrawn.qpdf();
    acceptDroppedObjects(qpdf);
    // Pages drawn blank, or text made into shapes, are no smaller copy of the document: the
    // source's own objects, packed without loss, are (a form, a font Ghostscript reads otherwise).
    bool lostText = false;
    if (sourceText) {
        const QString redrawnText = documentText(redrawn, work.stop).value_or(QString());
        lostText = !WordsKept::keepsText(*sourceText, redrawnText);
    }
    const PDFDocument& written = lostText ? *opened : redrawn;
    guardedRead([&] {
        QPDF& target = written.qpdf();
        QPDFObjectHandle trailer = target.getTrailer();
        if (!trailer.getKey("/Info").isDictionary())
            trailer.replaceKey("/Info", target.makeIndirectObject(QPDFObjectHandle::newDictionary()));
        trailer.getKey("/Info").replaceKey("/Creator", QPDFObjectHandle::newUnicodeString("Quorvenda"));
    });
    const QUrl result = work.workFile(QStringLiteral("pdf"));
    try {
        if (lostText)
            written.writePacked(result.toLocalFile());
        else
            written.write(result.toLocalFile());
    } catch (const EngineError& e) {
        throw couldNotCreate(e.log().isEmpty() ? e.message() : e.log());
    }
    throwIfCancelled(work.stop);

    const qint64 newSize = QFileInfo(result.toLocalFile()).size();
    if (newSize < 1 || (file.size > 0 && newSize >= file.size))
        throw EngineError(QStringLiteral("Already as small as it gets"));
    work.report(1.0);
    const QUrl placed = work.place(result, work.nameFor(QStringLiteral("compress")), QStringLiteral("pdf"));
    if (file.size > 0 && work.notes) {
        const int percent = int((1.0 - double(newSize) / double(file.size)) * 100.0);
        work.notes->addMessage(QString::number(percent) + QStringLiteral(" % smaller"));
    }
    if (work.notes && drewStandIns(output) && !lostText)
        work.notes->addMessage(PDFRenderer::standInsNote());
    return placed;
}

} // namespace qv
