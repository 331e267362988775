#include "documents/readers/DocumentFileReader.h"

#include "documents/model/DocumentPictures.h"

#include "documents/office/OfficeEncryption.h"
#include "documents/readers/AttributedTextReader.h"
#include "documents/readers/MarkdownReader.h"
#include "documents/readers/PropertyListDocuments.h"
#include "documents/readers/RichTextReader.h"
#include "documents/readers/TextLoaders.h"
#include "documents/readers/XHTMLParser.h"
#include "model/errors/EngineError.h"
#include "model/files/FileInfo.h"

#include <QFileInfo>
#include <QStringConverter>

namespace qv {
namespace {

std::optional<QString> firstTopHeading(const QList<DocBlock>& blocks)
{
    for (const DocBlock& block : blocks) {
        if (block.kind == DocBlock::Kind::heading && block.level == 1)
            return block.plainText();
    }
    return std::nullopt;
}

} // namespace

bool DocumentFileReader::canRead(const QString& ext)
{
    static const QStringList known{"md", "markdown", "html", "htm", "xhtml", "xht", "txt", "text", "rtf", "docx", "odt", "webarchive", "textclipping"};
    return known.contains(ext);
}

DocumentModel DocumentFileReader::read(const QUrl& file, const QUrl& workFolder, std::stop_token stop)
{
    const QFileInfo info(file.toLocalFile());
    const QString ext = splitFileName(info.fileName()).ext;
    const QUrl folder = QUrl::fromLocalFile(info.absolutePath());
    DocumentModel model;
    if (ext == QLatin1String("md") || ext == QLatin1String("markdown")) {
        auto [title, blocks] = MarkdownReader::parseMarkdown(TextLoaders::readTextWithDetectedEncoding(file).text);
        model.title = title;
        model.blocks = blocks;
        DocumentPictures::removeOutside(model.blocks, info.absolutePath(), info.absolutePath());
    } else if (ext == QLatin1String("html") || ext == QLatin1String("htm") || ext == QLatin1String("xhtml")
               || ext == QLatin1String("xht")) {
        const bool strict = ext.startsWith(QLatin1String("xht"));
        const QByteArray bytes = TextLoaders::readFileBytes(file);
        // A page holds no NUL byte unless it is UTF-16 or UTF-32 with its mark; else it is binary.
        if (bytes.contains('\0') && !QStringConverter::encodingForData(bytes))
            throw EngineError(QStringLiteral("This document is damaged or not in a supported format"),
                              QStringLiteral("The file holds binary data"));
        model.blocks = XHTMLParser::parse(bytes, folder, strict, folder);
        model.title = firstTopHeading(model.blocks);
    } else if (ext == QLatin1String("txt") || ext == QLatin1String("text")) {
        model.blocks = TextLoaders::plainTextBlocks(TextLoaders::readTextWithDetectedEncoding(file).text);
    } else if (ext == QLatin1String("rtf") || ext == QLatin1String("docx") || ext == QLatin1String("odt")) {
        if (ext != QLatin1String("rtf") && OfficeEncryption::isEncryptedPackage(file.toLocalFile()))
            throw EngineError(OfficeEncryption::passwordProtectedMessage);
        const RichTextReader::Result rich = RichTextReader::readAttributedFile(file, ext, workFolder, stop);
        model = AttributedTextReader::documentModelFromAttributedString(*rich.document, rich.title);
    } else if (ext == QLatin1String("webarchive")) {
        const RichTextReader::Result rich = PropertyListDocuments::readWebArchive(file);
        model = AttributedTextReader::documentModelFromAttributedString(*rich.document, rich.title);
    } else if (ext == QLatin1String("textclipping")) {
        const RichTextReader::Result rich = PropertyListDocuments::readTextClipping(file, workFolder, stop);
        model = AttributedTextReader::documentModelFromAttributedString(*rich.document, rich.title);
    } else {
        throw EngineError(QStringLiteral("This document is damaged or not in a supported format"),
                          QStringLiteral("No document reader for .") + ext);
    }
    return model;
}

} // namespace qv
