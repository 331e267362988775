#include "documents/RichTextReader.h"

#include "documents/ConfinedTextDocument.h"
#include "documents/DocumentFonts.h"
#include "documents/TextLoaders.h"
#include "model/CancellationError.h"
#include "model/Capabilities.h"
#include "model/EngineError.h"
#include "model/SystemError.h"
#include "platform/ProcessRunner.h"
#include "platform/TimeLimit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUuid>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace qv {

std::chrono::seconds RichTextReader::pandocTimeLimit{60};

namespace {

const QString damaged = QStringLiteral("This document is damaged or not in a supported format");

// The page pandoc writes: the body, and the title when the file declares one.
constexpr char pandocTemplate[] =
    "<html><head><meta charset=\"utf-8\"><title>$if(title)$$title$$endif$</title></head>"
    "<body>\n$body$\n</body></html>\n";

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
    const QString stem = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
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
    const QStringList arguments{QStringLiteral("--from=") + format,
                                QStringLiteral("--to=html5"),
                                QStringLiteral("--standalone"),
                                QStringLiteral("--template=") + templatePath,
                                QStringLiteral("--extract-media=") + mediaPath,
                                QStringLiteral("--output=") + outputPath,
                                QStringLiteral("--"),
                                QFileInfo(file.toLocalFile()).absoluteFilePath()};
    bool timedOut = false;
    ProcessRunner::Output output;
    try {
        output = runWithTimeLimit(stop, pandocTimeLimit, timedOut, [&](std::stop_token limited) {
            return ProcessRunner::run(QUrl::fromLocalFile(pandoc), arguments, limited, std::nullopt, workFolder);
        });
    } catch (const CancellationError&) {
        if (timedOut && !stop.stop_requested())
            throw EngineError(damaged, QStringLiteral("pandoc took longer than %1 seconds").arg(pandocTimeLimit.count()));
        throw;
    }
    throwIfCancelled(stop);
    const QString log = output.stderrData.isEmpty() ? output.stdoutText() : output.stderrText();
    // pandoc says "resource exhausted (No space left on device)" when its page or a picture
    // could not be written; that is no fault of the document.
    if (log.contains(QLatin1String("No space left on device"), Qt::CaseInsensitive))
        throw SystemError::fromErrno(ENOSPC, log.trimmed());
    if (output.status != 0 || output.terminatedBySignal)
        throw EngineError(damaged, log);
    const std::optional<QString> html = TextLoaders::decodeText(TextLoaders::readFileBytes(QUrl::fromLocalFile(outputPath)));
    if (!html)
        throw EngineError(damaged, QStringLiteral("pandoc wrote no readable text"));
    // The template ends the page; a page without its end was cut short.
    if (!html->trimmed().endsWith(QLatin1String("</html>")))
        throw EngineError(QStringLiteral("This document couldn't be read"), QStringLiteral("pandoc's page is cut short"));
    Result result;
    // The only pictures are those pandoc extracted; a document naming other files gets none.
    result.document = std::make_unique<ConfinedTextDocument>(ConfinedTextDocument::Files::belowRoot, mediaPath);
    result.document->setDefaultFont(DocumentFonts::body(12));
    result.document->setBaseUrl(QUrl::fromLocalFile(work.absolutePath() + QLatin1Char('/')));
    result.document->setHtml(*html);
    const QString title = result.document->metaInformation(QTextDocument::DocumentTitle).trimmed();
    if (!title.isEmpty())
        result.title = title;
    return result;
}

RichTextReader::Result RichTextReader::readHTMLFile(const QUrl& file)
{
    const std::optional<QString> html = TextLoaders::decodeText(TextLoaders::readFileBytes(file));
    if (!html)
        throw EngineError(QStringLiteral("This document couldn't be read"),
                          QStringLiteral("The file's text encoding is unknown"));
    Result result;
    result.document = std::make_unique<ConfinedTextDocument>(ConfinedTextDocument::Files::any);
    result.document->setDefaultFont(DocumentFonts::body(12));
    result.document->setBaseUrl(QUrl::fromLocalFile(QFileInfo(file.toLocalFile()).absolutePath() + QLatin1Char('/')));
    result.document->setHtml(*html);
    const QString title = result.document->metaInformation(QTextDocument::DocumentTitle).trimmed();
    if (!title.isEmpty())
        result.title = title;
    return result;
}

} // namespace qv
