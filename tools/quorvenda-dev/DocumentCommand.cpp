#include "Commands.h"

#include "documents/readers/AttributedTextReader.h"
#include "documents/readers/DocumentLoader.h"
#include "documents/readers/MarkdownReader.h"
#include "documents/readers/TextLoaders.h"
#include "documents/writers/AttributedTextWriter.h"
#include "documents/writers/DocxWriter.h"
#include "documents/writers/EpubWriter.h"
#include "documents/writers/HTMLRenderer.h"
#include "documents/writers/MarkdownWriter.h"
#include "model/errors/Error.h"
#include "model/errors/SystemError.h"
#include "model/files/FileInfo.h"
#include "platform/files/TemporaryRoot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

namespace qv::dev {
namespace {

void print(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

int usage()
{
    QTextStream(stderr) << "usage: quorvenda-dev document FILE [--to md|html|txt] [--roundtrip] [--stats]\n"
                           "       quorvenda-dev document FILE --to docx|epub OUT [--letter]\n";
    return 2;
}

} // namespace

int document(const QStringList& args)
{
    QString file;
    QString to;
    bool roundtrip = false;
    bool stats = false;
    bool letter = false;
    QString out;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--to") && i + 1 < args.size()) {
            to = args[++i];
            if ((to == QLatin1String("docx") || to == QLatin1String("epub")) && i + 1 < args.size())
                out = args[++i];
        } else if (args[i] == QLatin1String("--letter"))
            letter = true;
        else if (args[i] == QLatin1String("--roundtrip"))
            roundtrip = true;
        else if (args[i] == QLatin1String("--stats"))
            stats = true;
        else if (!args[i].startsWith(QLatin1String("--")) && file.isEmpty())
            file = args[i];
        else
            return usage();
    }
    const bool package = to == QLatin1String("docx") || to == QLatin1String("epub");
    if (file.isEmpty() || (package && out.isEmpty()) || (letter && !package)
        || (!to.isEmpty() && !package && to != QLatin1String("md") && to != QLatin1String("html")
            && to != QLatin1String("txt")))
        return usage();
    const QFileInfo info(file);
    const QUrl url = QUrl::fromLocalFile(info.absoluteFilePath());
    const QUrl folder = QUrl::fromLocalFile(info.absolutePath());
    try {
        const FileInfo source = fileInfoForURL(url);
        const QString key = source.format ? source.format->id : source.ext;
        if (to == QLatin1String("html") && !roundtrip && !stats && key == QLatin1String("md")) {
            // Straight from the parser to the page, a section at a time: the same bytes as
            // through the model.
            MarkdownReader::writeHTML(TextLoaders::readTextWithDetectedEncoding(url).text,
                                      [&](const DocBlock& image) {
                                          return HTMLRenderer::embeddedImageSource(image, folder);
                                      },
                                      [](QByteArrayView bytes) {
                                          std::fwrite(bytes.data(), 1, size_t(bytes.size()), stdout);
                                      });
            std::fputc('\n', stdout);
            if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
                QTextStream(stderr) << "Couldn't write the HTML\n";
                return 1;
            }
            return 0;
        }
        QTemporaryDir work(TemporaryRoot::secure() + QStringLiteral("/document-XXXXXX"));
        if (!work.isValid())
            throw SystemError(SystemError::posixDomain, EIO, QStringLiteral("Cannot create a work folder"));
        DocumentModel model = DocumentLoader::loadDocument(source, QUrl::fromLocalFile(work.path()), {})->model();
        const auto loader = [&](const QString& path) -> std::optional<QByteArray> {
            QFile in(QDir(folder.toLocalFile()).filePath(path));
            if (!in.open(QIODevice::ReadOnly) || in.size() > TextLoaders::maximumFileBytes)
                return std::nullopt;
            return in.readAll();
        };
        if (roundtrip) {
            const auto rich = AttributedTextWriter::attributedStringFromDocumentModel(loader, model.blocks);
            model = AttributedTextReader::documentModelFromAttributedString(*rich, model.title);
        }
        if (to == QLatin1String("docx")) {
            writeDOCX(model.blocks, model.title.value_or(splitFileName(info.fileName()).baseName), letter, out, loader);
        } else if (to == QLatin1String("epub")) {
            writeEPUB(model.blocks, model.title.value_or(splitFileName(info.fileName()).baseName), std::nullopt, out,
                      loader);
        } else if (stats) {
            const auto counts = TextLoaders::textStatistics(model.plainText());
            print(TextLoaders::statisticsLine(counts.words, counts.characters) + QLatin1Char('\n'));
        } else if (to == QLatin1String("md")) {
            print(MarkdownWriter::renderMarkdown(model.blocks));
        } else if (to == QLatin1String("html")) {
            print(HTMLRenderer::renderHTMLWithEmbeddedImages(model.blocks, false, folder) + QLatin1Char('\n'));
        } else if (to == QLatin1String("txt")) {
            print(model.plainText() + QLatin1Char('\n'));
        } else {
            print(QString::fromUtf8(QJsonDocument(model.toJson()).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
        }
        return 0;
    } catch (const Error& error) {
        QTextStream(stderr) << error.localizedDescription() << '\n';
        return 1;
    }
}

} // namespace qv::dev
