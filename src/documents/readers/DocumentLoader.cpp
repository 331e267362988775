#include "documents/readers/DocumentLoader.h"

#include "documents/layout/DocumentFonts.h"
#include "documents/model/DocumentPictures.h"
#include "documents/office/OfficeConverter.h"
#include "documents/office/OfficeEncryption.h"
#include "documents/readers/EPUBReader.h"
#include "documents/readers/MarkdownReader.h"
#include "documents/readers/PDFTextReader.h"
#include "documents/readers/PropertyListDocuments.h"
#include "documents/readers/RichTextReader.h"
#include "documents/readers/TextLoaders.h"
#include "documents/readers/XHTMLParser.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"

#include <QDir>
#include <QFileInfo>
#include <QStringConverter>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QUuid>

namespace qv {
namespace {

const QString damaged = QStringLiteral("This document is damaged or not in a supported format");

QString freshName()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString keyOf(const FileInfo& file)
{
    return file.format ? file.format->id : file.ext;
}

std::unique_ptr<LoadedDocument> richDocument(const FileInfo& file, const QUrl& folder, RichTextReader::Result rich)
{
    const QString title = rich.title && !rich.title->isEmpty() ? *rich.title : file.baseName;
    auto document = std::make_unique<LoadedDocument>(title, folder, true);
    document->addNote(DocumentPictures::leftOutNote(rich.picturesLeftOut));
    document->setRichText(std::move(rich.document));
    document->setPageSetup({rich.landscape, rich.margins, rich.header, rich.footer});
    return document;
}

} // namespace

std::unique_ptr<QTextDocument> DocumentLoader::plainRichText(const QString& text)
{
    auto document = std::make_unique<QTextDocument>();
    document->setPlainText(text);
    QTextCharFormat characters;
    characters.setFont(DocumentFonts::body(11));
    characters.setForeground(Qt::black);
    QTextBlockFormat paragraphs;
    paragraphs.setLineHeight(115, QTextBlockFormat::ProportionalHeight);
    paragraphs.setBottomMargin(4);
    QTextCursor cursor(document.get());
    cursor.select(QTextCursor::Document);
    cursor.mergeCharFormat(characters);
    cursor.mergeBlockFormat(paragraphs);
    document->setDefaultFont(DocumentFonts::body(11));
    return document;
}

std::unique_ptr<LoadedDocument> DocumentLoader::loadDocument(const FileInfo& file, const QUrl& workFolder,
                                                             std::stop_token stop)
{
    throwIfCancelled(stop);
    const QString key = keyOf(file);
    const QFileInfo info(file.path());
    const QUrl folder = QUrl::fromLocalFile(info.absolutePath());

    // A file of no known format is offered as a document only when it reads as text (a README,
    // a log, a configuration file, JSON, a script): it is plain text.
    if (key == QLatin1String("txt") || (!file.format && !file.isDirectory)) {
        const auto [text, replaced] = TextLoaders::readTextWithDetectedEncoding(file.url);
        auto document = std::make_unique<LoadedDocument>(file.baseName, folder, false);
        document->addNote(TextLoaders::replacementNote(file.name, replaced));
        DocumentModel model;
        model.title = file.baseName;
        model.blocks = TextLoaders::plainTextBlocks(text);
        document->setModel(std::move(model));
        QString normalised = text;
        normalised.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
        document->setRichText(plainRichText(normalised));
        return document;
    }
    if (key == QLatin1String("md")) {
        TextLoaders::DecodedText source = TextLoaders::readTextWithDetectedEncoding(file.url);
        auto [title, blocks] = MarkdownReader::parseMarkdown(std::move(source.text));
        auto document = std::make_unique<LoadedDocument>(title.value_or(file.baseName), folder, false);
        document->addNote(TextLoaders::replacementNote(file.name, source.replaced));
        document->addNote(DocumentPictures::leftOutNote(
            DocumentPictures::removeOutside(blocks, info.absolutePath(), info.absolutePath())));
        DocumentModel model;
        model.title = title;
        model.blocks = std::move(blocks);
        document->setModel(std::move(model));
        return document;
    }
    if ((key == QLatin1String("docx") || key == QLatin1String("odt") || key == QLatin1String("doc"))
        && OfficeEncryption::isEncryptedPackage(file.path()))
        throw EngineError(OfficeEncryption::passwordProtectedMessage);
    if (key == QLatin1String("docx") || key == QLatin1String("odt") || key == QLatin1String("rtf"))
        return richDocument(file, folder, RichTextReader::readAttributedFile(file.url, key, workFolder, stop));
    if (key == QLatin1String("doc")) {
        // Word 97 is read by LibreOffice, as the DOCX it writes.
        const QUrl converted = QUrl::fromLocalFile(QDir(workFolder.toLocalFile()).filePath(freshName() + QStringLiteral(".docx")));
        OfficeConverter::convertWithLibreOffice(file.url, converted, QStringLiteral("docx"), stop);
        return richDocument(file, folder, RichTextReader::readAttributedFile(converted, QStringLiteral("docx"), workFolder, stop));
    }
    if (key == QLatin1String("rtfd")) {
        // A package: the text is its TXT.rtf, the pictures beside it.
        const QString text = QDir(file.path()).filePath(QStringLiteral("TXT.rtf"));
        if (!QFileInfo(text).isFile())
            throw EngineError(damaged, QStringLiteral("The package holds no TXT.rtf"));
        return richDocument(file, QUrl::fromLocalFile(file.path()),
                            RichTextReader::readAttributedFile(QUrl::fromLocalFile(text), QStringLiteral("rtf"), workFolder, stop));
    }
    if (key == QLatin1String("html") || key == QLatin1String("webarchive")) {
        auto document = std::make_unique<LoadedDocument>(file.baseName, folder, true);
        const QUrl url = file.url;
        if (key == QLatin1String("html")) {
            const QByteArray bytes = TextLoaders::readFileBytes(url);
            // A page holds no NUL byte unless it is UTF-16 or UTF-32 with its mark.
            if (bytes.contains('\0') && !QStringConverter::encodingForData(bytes))
                throw EngineError(damaged, QStringLiteral("The file holds binary data"));
            DocumentModel model;
            model.title = file.baseName;
            int leftOut = 0;
            model.blocks = XHTMLParser::parse(bytes, folder, file.ext == QLatin1String("xhtml"), folder, &leftOut);
            document->addNote(DocumentPictures::leftOutNote(leftOut));
            document->setModel(std::move(model));
            document->setRichLoader([url] { return RichTextReader::readHTMLFile(url).document; });
        } else {
            document->setRichLoader([url] { return PropertyListDocuments::readWebArchive(url).document; });
        }
        return document;
    }
    if (key == QLatin1String("textclipping")) {
        RichTextReader::Result rich = PropertyListDocuments::readTextClipping(file.url, workFolder, stop);
        auto document = std::make_unique<LoadedDocument>(file.baseName, std::nullopt, true);
        document->setRichText(std::move(rich.document));
        return document;
    }
    if (key == QLatin1String("epub")) {
        // Unpacked into the work folder, which the job removes.
        const QUrl unpacked = makeUniqueTempDirectory(workFolder, QStringLiteral("epub"));
        const EPUBReader::Book book = EPUBReader::read(file.url, unpacked, stop);
        int picturesLeftOut = 0;
        DocumentModel model = EPUBReader::documentModel(book, stop, &picturesLeftOut);
        const QUrl packageFolder = QUrl::fromLocalFile(QFileInfo(book.packageURL.toLocalFile()).absolutePath());
        auto document = std::make_unique<LoadedDocument>(book.title.value_or(file.baseName), packageFolder, false);
        // Pictures of the book are those it carries, wherever in it they lie.
        document->setPictureRoot(unpacked.toLocalFile());
        document->addNote(DocumentPictures::leftOutNote(picturesLeftOut));
        document->setModel(std::move(model));
        return document;
    }
    if (key == QLatin1String("pdf")) {
        DocumentModel model = PDFTextReader::documentModel(file.path(), std::nullopt, stop);
        auto document = std::make_unique<LoadedDocument>(model.title.value_or(file.baseName), std::nullopt, false);
        document->setModel(std::move(model));
        return document;
    }
    if (key == QLatin1String("pages")) {
        const QUrl converted = QUrl::fromLocalFile(QDir(workFolder.toLocalFile()).filePath(freshName() + QStringLiteral(".docx")));
        OfficeConverter::convertOfficeDocument(file.url, converted, QStringLiteral("docx"), FileCategory::document, stop);
        auto document = std::make_unique<LoadedDocument>(file.baseName, std::nullopt, true);
        document->setRichText(RichTextReader::readAttributedFile(converted, QStringLiteral("docx"), workFolder, stop).document);
        return document;
    }
    throw EngineError(QStringLiteral("This document type can't be converted"));
}

} // namespace qv
