#include "catalogue/tools/VisionTools.h"

#include "catalogue/adapters/PdfWorkAdapter.h"
#include "catalogue/OperationFactories.h"
#include "engines/image/foreign/ImageDecoder.h"
#include "engines/pdf/PDFEngine.h"
#include "engines/vision/VisionEngine.h"
#include "jobs/OutputPlanner.h"
#include "model/errors/EngineError.h"
#include "model/operations/Progress.h"
#include "platform/files/FileContents.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>

namespace qv {

namespace {

constexpr qsizetype longestShownPayload = 60;
constexpr qsizetype shortenedPayload = 57;

QUrl deliverText(const QString& text, const QString& baseName, OutputPlanner& planner) {
    const QString extension = QStringLiteral("txt");
    const QUrl work =
        planner.workURL(extension, QUuid::createUuid().toString(QUuid::WithoutBraces));
    if (const auto error = FileContents::createNew(work.toLocalFile(), text.toUtf8())) throw *error;
    return planner.deliver(work, baseName, extension);
}

QStringList payloadsOf(const DetectedCodes& codes) {
    QStringList payloads;
    for (const DetectedCode& code : codes)
        payloads.append(code.payload);
    return payloads;
}

void copyCodes(const QStringList& payloads, JobNotes& notes) {
    if (payloads.isEmpty()) throw EngineError(QStringLiteral("No QR code or barcode found"));
    notes.addClipboardText(payloads.join(QLatin1Char('\n')));
    notes.addMessage(copiedNote(payloads.first()));
}

PageTextLines readPageText(const QImage& picture, double dpi, std::stop_token stop) {
    PageTextLines lines;
    for (const RecognizedLine& line : VisionEngine::recognizeText(picture, dpi, stop))
        lines.append({line.text, line.box});
    return lines;
}

QStringList readPageCodes(const QImage& picture, std::stop_token stop) {
    return payloadsOf(VisionEngine::detectBarcodes(picture, stop));
}

OperationDescriptor imageVisionTool(const char* id, const char* title, const char* symbol,
                                    const char* verb) {
    OperationDescriptor d;
    d.id = QString::fromLatin1(id);
    d.wheel = WheelKind::tools;
    d.group = d.id.section(QLatin1Char('.'), -1);
    d.title = QString::fromLatin1(title);
    d.symbol = QString::fromLatin1(symbol);
    d.categories = {FileCategory::image};
    d.accepts = [](const FileInfo&) { return true; };
    d.multiFile = MultiFileMode::each;
    d.minimumFiles = 1;
    d.behavior = OperationBehavior::run();
    d.engine = EngineID::of(EngineID::Kind::vision);
    d.lane = JobLane::cpu;
    d.verb = QString::fromLatin1(verb);
    return d;
}

} // namespace

OperationDescriptor makeExtractImageTextTool() {
    OperationDescriptor d = imageVisionTool("tool.image.extractText", "Extract Text",
                                            "text.viewfinder", "Recognizing text");
    d.outputExtension = QStringLiteral("txt");
    d.copiesText = true;
    d.make = blockFactory(singleOutputAdapter(extractImageText));
    return d;
}

OperationDescriptor makeReadImageCodesTool() {
    OperationDescriptor d =
        imageVisionTool("tool.image.readQR", "Read QR", "qrcode.viewfinder", "Reading codes");
    d.copiesText = true;
    d.make = blockFactory(noOutputAdapter(readImageCodes));
    return d;
}

QString copiedNote(const QString& firstPayload) {
    if (firstPayload.size() <= longestShownPayload)
        return QStringLiteral("Copied: ") + firstPayload;
    return QStringLiteral("Copied: ") + firstPayload.left(shortenedPayload) + QChar(0x2026);
}

QString textLayerFontFile() {
    const QString name = QStringLiteral("pdf.ttf");
    if (const std::optional<QString> folder = VisionEngine::textDataFolder()) {
        const QString beside = QDir(*folder).filePath(name);
        if (QFileInfo(beside).isFile()) return beside;
    }
    return QStringLiteral("/usr/share/tesseract-ocr/5/tessdata/") + name;
}

QUrl extractImageText(const QUrl& file, const OperationContext& context, OutputPlanner& planner,
                      Progress& progress) {
    const DecodedImage decoded = ImageDecoder::decode(file.toLocalFile());
    reportProgress(0.3, progress);
    // 72 is also what a picture that states no resolution reports: the recogniser then judges
    // the size of the glyphs itself.
    const double dpi = qFuzzyCompare(decoded.dpi(), 72.0) ? 0.0 : decoded.dpi();
    const QString text = VisionEngine::joinLines(
        VisionEngine::recognizeText(decoded.toQImage(), dpi, context.stopToken));
    if (text.isEmpty()) throw EngineError(QStringLiteral("No text was found in this image"));
    const QUrl result = deliverText(
        text,
        planner.outputBaseName(context.settings.suffixForOperation(QStringLiteral("extractText"))),
        planner);
    // Only a saved text is announced as copied.
    if (context.notes) {
        context.notes->addClipboardText(text);
        context.notes->addMessage(QStringLiteral("Text copied to the clipboard"));
    }
    return result;
}

void readImageCodes(const QUrl& file, const OperationContext& context, OutputPlanner&,
                    Progress& progress) {
    const DecodedImage decoded = ImageDecoder::decode(file.toLocalFile());
    reportProgress(0.3, progress);
    const QStringList payloads =
        payloadsOf(VisionEngine::detectBarcodes(decoded.toQImage(), context.stopToken));
    JobNotes fallback;
    JobNotes& notes = context.notes ? *context.notes : fallback;
    copyCodes(payloads, notes);
    if (payloads.size() > 1) notes.addMessage(QStringLiteral("%1 codes").arg(payloads.size()));
}

void readPDFCodes(const QUrl& file, const OperationContext& context, OutputPlanner&, Progress&) {
    JobNotes fallback;
    JobNotes& notes = context.notes ? *context.notes : fallback;
    const QStringList payloads = PDFEngine::readCodes(file.toLocalFile(), context.options.password,
                                                      readPageCodes, context.stopToken, &notes);
    copyCodes(payloads, notes);
}

QUrl ocrPDF(const QUrl& file, const OperationContext& context, OutputPlanner& planner,
            Progress& progress) {
    return PDFEngine::addTextLayer(file.toLocalFile(), readPageText, textLayerFontFile(),
                                   pdfWork(context, planner, progress));
}

QUrl convertPDFToText(const QUrl& file, const OperationContext& context, OutputPlanner& planner,
                      Progress&) {
    const QString text = PDFEngine::plainText(file.toLocalFile(), context.options.password);
    if (!PDFEngine::holdsReadableText(text))
        throw EngineError(QStringLiteral("This PDF has no text layer. Try OCR first"));
    return deliverText(text, planner.outputBaseName(), planner);
}

} // namespace qv
