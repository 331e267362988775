#include "documents/readers/RichTextReader.h"

#include "documents/layout/ConfinedTextDocument.h"
#include "documents/layout/DocumentFonts.h"
#include "documents/model/DocumentPictures.h"
#include "documents/office/OfficeConverter.h"
#include "documents/readers/PandocInput.h"
#include "documents/readers/RtfDecoder.h"
#include "documents/readers/TextLoaders.h"
#include "documents/styles/SourceStyleOverlay.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"
#include "model/operations/Capabilities.h"
#include "platform/processes/ProcessRunner.h"
#include "platform/processes/TimeLimit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextFrame>
#include <QTextList>
#include <QTextTable>
#include <QUuid>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace qv {

std::chrono::seconds RichTextReader::pandocTimeLimit{60};

namespace {

const QString damaged = QStringLiteral("This document is damaged or not in a supported format");

// The page pandoc writes: the title when the file declares one, then the body. pandoc takes
// the Title, Subtitle, Author, Date and Abstract paragraphs out of a DOCX's body; they are
// text of the document and go back at its head (an RTF's \\info is no text and stays out).
constexpr char pandocTemplate[] =
    "<html><head><meta charset=\"utf-8\"><title>$if(title)$$title$$endif$</title></head>"
    "<body>\n"
    "$if(wordheader)$"
    "$if(title)$<h1 class=\"title\">$title$</h1>\n$endif$"
    "$if(subtitle)$<p class=\"subtitle\"><b>$subtitle$</b></p>\n$endif$"
    "$for(author)$<p class=\"author\">$author$</p>\n$endfor$"
    "$if(date)$<p class=\"date\">$date$</p>\n$endif$"
    "$if(abstract)$<div class=\"abstract\">$abstract$</div>\n$endif$"
    "$endif$"
    "$body$\n</body></html>\n";

// Widest picture, in the document's pixels: the text width of an A4 page.
constexpr double widestImage = 640;

double cssLengthInPixels(double value, const QString& unit)
{
    if (unit == QLatin1String("in"))
        return value * 96;
    if (unit == QLatin1String("cm"))
        return value * 96 / 2.54;
    if (unit == QLatin1String("mm"))
        return value * 96 / 25.4;
    if (unit == QLatin1String("pt"))
        return value * 96 / 72;
    return value;
}

// What Qt's HTML import leaves out, in the order the tables and lists begin.
struct PageLayout {
    QList<QList<double>> columnWidths; // percent, per table
    QList<int> listStarts;             // first number, per list
};

// pandoc's HTML as far as Qt's HTML import understands it.
PageLayout adaptForQt(QString& html)
{
    html.replace(QLatin1String("<del>"), QLatin1String("<s>")).replace(QLatin1String("</del>"), QLatin1String("</s>"));
    html.replace(QLatin1String("<ins>"), QLatin1String("<u>")).replace(QLatin1String("</ins>"), QLatin1String("</u>"));
    html.replace(QLatin1String("<span class=\"underline\">"), QLatin1String("<span style=\"text-decoration: underline\">"));
    // Word and LibreOffice set a head cell to the left unless told otherwise; Qt centres it.
    html.replace(QLatin1String("<th>"), QLatin1String("<th align=\"left\">"));
    // Qt's small capitals lose their small letters in a PDF; capitals stand in for them.
    html.replace(QLatin1String("<span class=\"smallcaps\">"), QLatin1String("<span style=\"text-transform: uppercase\">"));
    // The way back from a note to its mark means nothing on paper.
    static const QRegularExpression noteBack(QStringLiteral("<a href=\"#fnref[^\"]*\"\\s+class=\"footnote-back\"[^>]*>.*?</a>"),
                                             QRegularExpression::DotMatchesEverythingOption);
    html.remove(noteBack);

    static const QRegularExpression imageSize(
        QStringLiteral("<img\\s([^>]*?)style=\"width:\\s*([0-9.]+)(in|cm|mm|pt|px)?;\\s*height:\\s*([0-9.]+)(in|cm|mm|pt|px)?;?\""));
    QString sized;
    qsizetype last = 0;
    for (auto it = imageSize.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        double width = cssLengthInPixels(m.captured(2).toDouble(), m.captured(3));
        double height = cssLengthInPixels(m.captured(4).toDouble(), m.captured(5));
        if (width > widestImage) {
            height = height * widestImage / width;
            width = widestImage;
        }
        sized += QStringView(html).mid(last, m.capturedStart() - last);
        sized += QStringLiteral("<img %1width=\"%2\" height=\"%3\"").arg(m.captured(1)).arg(qRound(width)).arg(qRound(height));
        last = m.capturedEnd();
    }
    if (last > 0) {
        sized += QStringView(html).mid(last);
        html = sized;
    }

    PageLayout layout;
    static const QRegularExpression listStart(QStringLiteral("<(?:ol|ul)\\b([^>]*)>"));
    static const QRegularExpression startNumber(QStringLiteral("\\bstart=\"(\\d+)\""));
    for (auto it = listStart.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch number = startNumber.match(it.next().captured(1));
        layout.listStarts.append(number.hasMatch() ? number.captured(1).toInt() : 1);
    }
    QList<QList<double>>& widths = layout.columnWidths;
    static const QRegularExpression tableStart(QStringLiteral("<table\\b"));
    static const QRegularExpression columnWidth(QStringLiteral("<col style=\"width:\\s*([0-9.]+)%\""));
    for (auto it = tableStart.globalMatch(html); it.hasNext();) {
        const qsizetype at = it.next().capturedEnd();
        const qsizetype row = html.indexOf(QLatin1String("<tr"), at);
        const qsizetype group = html.indexOf(QLatin1String("<colgroup>"), at);
        QList<double> columns;
        if (group >= 0 && (row < 0 || group < row)) {
            const qsizetype groupEnd = html.indexOf(QLatin1String("</colgroup>"), group);
            for (auto col = columnWidth.globalMatch(QStringView(html).mid(group, groupEnd - group)); col.hasNext();)
                columns.append(col.next().captured(1).toDouble());
        }
        widths.append(columns);
    }
    return layout;
}

// A list that goes on with the numbers of one before it (Word's "continue numbering") is made
// part of that list, as Qt's lists always count from one.
void continueLists(QTextDocument& document, const QList<int>& starts)
{
    QList<QTextList*> lists;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (QTextList* list = block.textList(); list && !lists.contains(list))
            lists.append(list);
    }
    if (lists.size() != starts.size())
        return;
    for (qsizetype i = 0; i < lists.size(); ++i) {
        if (starts[i] <= 1)
            continue;
        const QTextListFormat format = lists[i]->format();
        for (qsizetype j = i - 1; j >= 0; --j) {
            // A list left without items is gone.
            if (!lists[j] || lists[j]->format().indent() != format.indent())
                continue;
            if (lists[j]->format().style() == format.style() && lists[j]->count() == starts[i] - 1) {
                QList<QTextBlock> items;
                for (int k = 0; k < lists[i]->count(); ++k)
                    items.append(lists[i]->item(k));
                QTextList* target = lists[j];
                lists[i] = nullptr;
                for (const QTextBlock& item : std::as_const(items))
                    target->add(item);
            }
            break;
        }
        // A numbered list that starts past one on its own: this Qt counts every list from one,
        // so its numbers are written out before the items and the list draws none.
        if (lists[i] && format.style() == QTextListFormat::ListDecimal) {
            QList<QTextBlock> items;
            for (int k = 0; k < lists[i]->count(); ++k)
                items.append(lists[i]->item(k));
            QTextListFormat unnumbered = format;
            unnumbered.setStyle(QTextListFormat::ListStyleUndefined);
            lists[i]->setFormat(unnumbered);
            for (qsizetype k = 0; k < items.size(); ++k) {
                QTextCursor cursor(items[k]);
                cursor.insertText(QStringLiteral("%1. ").arg(starts[i] + k));
            }
        }
    }
}

void collectTables(QTextFrame* frame, QList<QTextTable*>& tables)
{
    for (QTextFrame* child : frame->childFrames()) {
        if (auto* table = qobject_cast<QTextTable*>(child))
            tables.append(table);
        collectTables(child, tables);
    }
}

// Tables drawn as the source draws them: a thin grid where it has borders, cells padded so that
// neighbouring numbers stay apart, columns at their widths, space above and below.
void formatTables(QTextDocument& document, const QList<QList<double>>& widths, const PandocInput::Prepared& source)
{
    QList<QTextTable*> tables;
    collectTables(document.rootFrame(), tables);
    const bool matched = source.bordersKnown && source.borderedTables.size() == tables.size();
    for (qsizetype i = 0; i < tables.size(); ++i) {
        QTextTable* table = tables[i];
        QTextTableFormat format = table->format();
        const bool bordered = matched ? source.borderedTables[i] : source.anyBorders;
        format.setBorderCollapse(true);
        format.setCellSpacing(0);
        format.setCellPadding(4);
        format.setTopMargin(6);
        format.setBottomMargin(6);
        if (bordered) {
            format.setBorder(1);
            format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
            format.setBorderBrush(QBrush(Qt::black));
        } else {
            format.setBorder(0);
            format.setBorderStyle(QTextFrameFormat::BorderStyle_None);
        }
        if (i < widths.size() && widths[i].size() == table->columns()) {
            QList<QTextLength> constraints;
            for (const double percent : widths[i])
                constraints.append(QTextLength(QTextLength::PercentageLength, percent));
            format.setColumnWidthConstraints(constraints);
            format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
        }
        table->setFormat(format);
    }
}

// Each page mark becomes the start of a block that begins a new page.
void applyPageMarks(QTextDocument& document)
{
    const QString mark(QChar(RtfDecoder::pageMark));
    QTextCursor cursor = document.find(mark);
    while (!cursor.isNull()) {
        cursor.removeSelectedText();
        if (!cursor.atBlockStart())
            cursor.insertBlock();
        // The first page needs no break before it.
        if (cursor.block().previous().isValid()) {
            QTextBlockFormat format = cursor.blockFormat();
            format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
            cursor.setBlockFormat(format);
        }
        cursor = document.find(mark, cursor);
    }
}

} // namespace

namespace {

// pandoc's page for one file, checked whole. Throws as readAttributedFile; refused tells a
// failure of pandoc from a time-out.
QString runPandoc(const QString& pandoc, const QString& input, const QString& format, const QDir& work,
                  const QString& stem, std::stop_token stop, bool& refused)
{
    refused = false;
    const QString templatePath = work.filePath(stem + QStringLiteral(".template.html"));
    const QString outputPath = work.filePath(stem + QStringLiteral(".html"));
    const QString mediaPath = work.filePath(stem + QStringLiteral("-media"));
    {
        QFile out(templatePath);
        if (!out.open(QIODevice::WriteOnly) || out.write(pandocTemplate) != qint64(sizeof(pandocTemplate) - 1)
            || !out.flush())
            throw EngineError(QStringLiteral("This document couldn't be read"),
                              QStringLiteral("Cannot write ") + templatePath + QStringLiteral(": ") + out.errorString());
    }
    // --sandbox: pandoc reads the files named here and nothing else. Without it, extracting
    // media copies every picture the document names by path (another of the reader's files)
    // or by address (fetched from the network) into the result.
    QStringList arguments{QStringLiteral("--sandbox"),
                                QStringLiteral("--from=") + format,
                                QStringLiteral("--to=html5"),
                                QStringLiteral("--standalone"),
                                QStringLiteral("--template=") + templatePath,
                                QStringLiteral("--extract-media=") + mediaPath,
                                QStringLiteral("--output=") + outputPath};
    if (format == QLatin1String("docx"))
        arguments << QStringLiteral("--variable=wordheader");
    arguments << QStringLiteral("--") << QFileInfo(input).absoluteFilePath();
    bool timedOut = false;
    ProcessRunner::Output output;
    try {
        output = runWithTimeLimit(stop, RichTextReader::pandocTimeLimit, timedOut, [&](std::stop_token limited) {
            return ProcessRunner::run(QUrl::fromLocalFile(pandoc), arguments, limited, std::nullopt,
                                      QUrl::fromLocalFile(work.absolutePath()));
        });
    } catch (const CancellationError&) {
        if (timedOut && !stop.stop_requested())
            throw EngineError(damaged, QStringLiteral("pandoc took longer than %1 seconds").arg(RichTextReader::pandocTimeLimit.count()));
        throw;
    }
    throwIfCancelled(stop);
    const QString log = output.stderrData.isEmpty() ? output.stdoutText() : output.stderrText();
    // pandoc says "resource exhausted (No space left on device)" when its page or a picture
    // could not be written; that is no fault of the document.
    if (log.contains(QLatin1String("No space left on device"), Qt::CaseInsensitive))
        throw SystemError::fromErrno(ENOSPC, log.trimmed());
    if (output.status != 0 || output.terminatedBySignal) {
        refused = !output.terminatedBySignal;
        throw EngineError(damaged, log);
    }
    const std::optional<QString> html = TextLoaders::decodeText(TextLoaders::readFileBytes(QUrl::fromLocalFile(outputPath)));
    if (!html)
        throw EngineError(damaged, QStringLiteral("pandoc wrote no readable text"));
    // The template ends the page; a page without its end was cut short.
    if (!html->trimmed().endsWith(QLatin1String("</html>")))
        throw EngineError(QStringLiteral("This document couldn't be read"), QStringLiteral("pandoc's page is cut short"));
    return *html;
}

// An OLE compound file named .docx is a password-protected one; LibreOffice would wait for
// the password.
bool isCompoundFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(8) == QByteArray::fromHex("d0cf11e0a1b11ae1");
}

// Pictures a document links to rather than holds: a relative link in a package resolves from
// the folder that holds the file. An OpenDocument package is a folder of its own, so its
// "../img.png" is the picture beside the document; a Word or RTF file's "img.png" is too.
// Those inside the document's folder are copied among the pictures pandoc extracted, the only
// ones the page may show; the others stay as they are, to be left out.
QString bringLinkedPictures(const QString& html, const QString& document, const QString& format,
                            const QString& mediaPath)
{
    static const QRegularExpression image(QStringLiteral(R"((<img\b[^>]*?\bsrc=")([^"]*)("))"),
                                          QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
    const QFileInfo info(document);
    const QString folder = info.absolutePath();
    const QString base = format == QLatin1String("odt") ? info.absoluteFilePath() : folder;
    QString out;
    qsizetype last = 0;
    for (auto it = image.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        QString reference = match.captured(2);
        reference.replace(QLatin1String("&amp;"), QLatin1String("&"));
        if (reference.isEmpty() || reference.startsWith(QLatin1Char('/')) || reference.startsWith(QLatin1Char('#'))
            || scheme.match(reference).hasMatch())
            continue;
        QString decoded = QUrl::fromPercentEncoding(reference.toUtf8());
        if (decoded.contains(QChar::ReplacementCharacter))
            decoded = reference;
        const QString path = QDir::cleanPath(base + QLatin1Char('/') + decoded);
        const DocumentPictures::Resolved resolved =
            DocumentPictures::resolve(QUrl::fromLocalFile(path).toString(), folder, folder);
        if (resolved.place != DocumentPictures::Place::inside
            || QFileInfo(resolved.path).size() > TextLoaders::maximumFileBytes)
            continue;
        QDir().mkpath(mediaPath);
        const QString suffix = QFileInfo(resolved.path).suffix();
        const QString copy = QDir(mediaPath).filePath(QStringLiteral("linked-")
                                                      + QUuid::createUuid().toString(QUuid::WithoutBraces)
                                                      + (suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix));
        if (!QFile::copy(resolved.path, copy))
            throw EngineError(QStringLiteral("This document couldn't be read"),
                              QStringLiteral("Cannot copy the linked picture ") + resolved.path + QStringLiteral(" to ") + copy);
        out += html.mid(last, match.capturedStart(2) - last);
        out += QString(copy).replace(QLatin1Char('&'), QLatin1String("&amp;")).replace(QLatin1Char('"'), QLatin1String("&quot;"));
        last = match.capturedEnd(2);
    }
    if (last == 0)
        return html;
    return out + html.mid(last);
}

} // namespace

RichTextReader::Result RichTextReader::readAttributedFile(const QUrl& file, const QString& format,
                                                          const QUrl& workFolder, std::stop_token stop)
{
    throwIfCancelled(stop);
    const std::optional<QUrl> program = Capabilities::shared().pandocURL();
    if (!program)
        throw EngineError(QStringLiteral("Install pandoc to read %1 documents").arg(format.toUpper()),
                          QStringLiteral("pandoc is not installed"));
    const QString pandoc = program->toLocalFile();
    const QDir work(workFolder.toLocalFile());
    QString stem = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    PandocInput::Prepared source = PandocInput::prepare(file.toLocalFile(), format, work.absolutePath(), stop);
    QString html;
    bool refused = false;
    const bool office = Capabilities::shared().libreOfficeURL().has_value();
    // LibreOffice's DOCX of the file, which pandoc reads well. Throws what LibreOffice throws.
    const auto throughOffice = [&] {
        const QString converted = work.filePath(stem + QStringLiteral("-office.docx"));
        OfficeConverter::convertWithLibreOffice(file, QUrl::fromLocalFile(converted), QStringLiteral("docx"), stop);
        const std::optional<QString> title = source.title;
        source = PandocInput::prepare(converted, QStringLiteral("docx"), work.absolutePath(), stop);
        if (title)
            source.title = title;
        stem = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        html = runPandoc(pandoc, source.path, QStringLiteral("docx"), work, stem, stop, refused);
    };
    bool read = false;
    if (source.betterThroughOffice && office) {
        const PandocInput::Prepared original = source;
        try {
            throughOffice();
            read = true;
        } catch (const EngineError&) {
            // pandoc's reading is still better than none.
            source = original;
            stem = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        }
    }
    if (!read) {
        try {
            html = runPandoc(pandoc, source.path, format, work, stem, stop, refused);
        } catch (const EngineError& failure) {
            // pandoc refuses some files that are valid (ISO Strict DOCX, RTF it does not follow);
            // LibreOffice reads those.
            if (!refused || !office || isCompoundFile(file.toLocalFile()))
                throw;
            try {
                throughOffice();
            } catch (const EngineError&) {
                throw failure;
            }
        }
    }
    const QString mediaPath = work.filePath(stem + QStringLiteral("-media"));
    html = bringLinkedPictures(html, file.toLocalFile(), format, mediaPath);
    const PageLayout layout = adaptForQt(html);
    Result result;
    // The only pictures are those pandoc extracted; a document naming other files gets none.
    auto confined = std::make_unique<ConfinedTextDocument>(ConfinedTextDocument::Files::belowRoot, mediaPath);
    confined->setDefaultFont(DocumentFonts::body(12));
    confined->setBaseUrl(QUrl::fromLocalFile(work.absolutePath() + QLatin1Char('/')));
    confined->setHtml(html);
    // Only what pandoc extracted is the document's own; a linked file is the reader's.
    const int leftOut = confined->removeRefusedImages();
    result.document = std::move(confined);
    result.picturesLeftOut = leftOut;
    formatTables(*result.document, layout.columnWidths, source);
    continueLists(*result.document, layout.listStarts);
    SourceStyleOverlay::apply(*result.document, source.styles, format == QLatin1String("odt"));
    applyPageMarks(*result.document);
    // The file's properties name the document; pandoc's title is its Title paragraph.
    const QString title = source.title ? *source.title
                                       : result.document->metaInformation(QTextDocument::DocumentTitle).simplified();
    if (!title.isEmpty())
        result.title = title;
    result.landscape = source.styles.landscape;
    result.margins = source.styles.margins;
    result.header = source.styles.header;
    result.footer = source.styles.footer;
    return result;
}

RichTextReader::Result RichTextReader::readHTMLFile(const QUrl& file)
{
    const std::optional<QString> html = TextLoaders::decodeText(TextLoaders::readFileBytes(file));
    if (!html)
        throw EngineError(QStringLiteral("This document couldn't be read"),
                          QStringLiteral("The file's text encoding is unknown"));
    Result result;
    // Pictures of the page's own folder only: a page must not carry the reader's other files.
    const QString folder = QFileInfo(file.toLocalFile()).absolutePath();
    auto confined = std::make_unique<ConfinedTextDocument>(ConfinedTextDocument::Files::belowRoot, folder);
    confined->setDefaultFont(DocumentFonts::body(12));
    confined->setBaseUrl(QUrl::fromLocalFile(folder + QLatin1Char('/')));
    confined->setHtml(*html);
    result.picturesLeftOut = confined->removeRefusedImages();
    result.document = std::move(confined);
    const QString title = result.document->metaInformation(QTextDocument::DocumentTitle).trimmed();
    if (!title.isEmpty())
        result.title = title;
    return result;
}

} // namespace qv
