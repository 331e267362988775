#include "documents/readers/PropertyListDocuments.h"

#include "documents/layout/ConfinedTextDocument.h"
#include "documents/layout/DocumentFonts.h"
#include "documents/readers/TextLoaders.h"
#include "model/errors/EngineError.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QUuid>

#include <plist/plist.h>

#include <limits>
#include <memory>

namespace qv {
namespace {

using Plist = std::unique_ptr<void, void (*)(plist_t)>;

Plist parse(const QByteArray& bytes)
{
    plist_t root = nullptr;
    if (!bytes.isEmpty())
        plist_from_memory(bytes.constData(), uint32_t(std::min<qsizetype>(bytes.size(), UINT32_MAX)), &root);
    return Plist(root, plist_free);
}

plist_t item(plist_t dict, const char* key)
{
    if (!dict || plist_get_node_type(dict) != PLIST_DICT)
        return nullptr;
    return plist_dict_get_item(dict, key);
}

std::optional<QByteArray> dataOf(plist_t node)
{
    if (!node || plist_get_node_type(node) != PLIST_DATA)
        return std::nullopt;
    char* bytes = nullptr;
    uint64_t length = 0;
    plist_get_data_val(node, &bytes, &length);
    QByteArray out(bytes, qsizetype(length));
    free(bytes);
    return out;
}

std::optional<QString> stringOf(plist_t node)
{
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return std::nullopt;
    // A binary list's UTF-16 string may hold U+0000, which libplist's copying getter asserts
    // against (an abort); the pointer comes with the string's own length.
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    if (!text)
        return std::nullopt;
    return QString::fromUtf8(text, qsizetype(std::min<uint64_t>(length, uint64_t(std::numeric_limits<qsizetype>::max()))));
}

RichTextReader::Result plainDocument(const QString& text)
{
    RichTextReader::Result result;
    result.document = std::make_unique<ConfinedTextDocument>();
    result.document->setDefaultFont(DocumentFonts::body(11));
    QTextBlockFormat format;
    format.setLineHeight(115, QTextBlockFormat::ProportionalHeight);
    format.setBottomMargin(4);
    QTextCursor cursor(result.document.get());
    cursor.setBlockFormat(format);
    QString normalized = text;
    normalized.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    cursor.insertText(normalized);
    return result;
}

} // namespace

RichTextReader::Result PropertyListDocuments::readTextClipping(const QUrl& file, const QUrl& workFolder,
                                                               std::stop_token stop)
{
    const Plist root = parse(TextLoaders::readFileBytes(file));
    const QString damaged = QStringLiteral("This file is damaged or not in a supported format");
    if (!root)
        throw EngineError(damaged, QStringLiteral("Not a property list"));
    plist_t data = item(root.get(), "UTI-Data");
    if (!data || plist_get_node_type(data) != PLIST_DICT)
        throw EngineError(damaged, QStringLiteral("The clipping has no UTI-Data"));
    const auto rtf = dataOf(item(data, "public.rtf"));
    if (rtf && rtf->startsWith("{\\rtf")) {
        const QString path = QDir(workFolder.toLocalFile()).filePath(QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".rtf"));
        QFile out(path);
        if (out.open(QIODevice::WriteOnly) && out.write(*rtf) == rtf->size() && out.flush()) {
            out.close();
            try {
                return RichTextReader::readAttributedFile(QUrl::fromLocalFile(path), QStringLiteral("rtf"), workFolder, stop);
            } catch (const EngineError&) {
                // Unreadable RTF falls through to the plain text.
            }
        }
    }
    plist_t utf8 = item(data, "public.utf8-plain-text");
    if (const auto text = stringOf(utf8))
        return plainDocument(*text);
    if (const auto bytes = dataOf(utf8))
        return plainDocument(QString::fromUtf8(*bytes));
    plist_t utf16 = item(data, "public.utf16-plain-text");
    if (const auto text = stringOf(utf16))
        return plainDocument(*text);
    if (const auto bytes = dataOf(utf16)) {
        QStringDecoder decoder(QStringConverter::encodingForData(*bytes).value_or(QStringConverter::Utf16LE));
        return plainDocument(decoder.decode(*bytes));
    }
    throw EngineError(QStringLiteral("This clipping has no text"));
}

RichTextReader::Result PropertyListDocuments::readWebArchive(const QUrl& file)
{
    const QString unreadable = QStringLiteral("This document couldn't be read");
    const Plist root = parse(TextLoaders::readFileBytes(file));
    plist_t main = item(root.get(), "WebMainResource");
    const auto html = dataOf(item(main, "WebResourceData"));
    if (!html)
        throw EngineError(unreadable, QStringLiteral("The web archive has no main resource"));
    QString text;
    const std::optional<QString> encodingName = stringOf(item(main, "WebResourceTextEncodingName"));
    if (encodingName) {
        QStringDecoder decoder(encodingName->toLatin1().constData());
        if (decoder.isValid())
            text = decoder.decode(*html);
    }
    if (text.isEmpty()) {
        const auto decoded = TextLoaders::decodeText(*html);
        if (!decoded)
            throw EngineError(unreadable, QStringLiteral("The page's text encoding is unknown"));
        text = *decoded;
    }
    auto document = std::make_unique<ConfinedTextDocument>();
    document->setDefaultFont(DocumentFonts::body(12));
    if (const auto url = stringOf(item(main, "WebResourceURL")))
        document->setBaseUrl(QUrl(*url));
    plist_t subresources = item(root.get(), "WebSubresources");
    if (subresources && plist_get_node_type(subresources) == PLIST_ARRAY) {
        for (uint32_t i = 0; i < plist_array_get_size(subresources); ++i) {
            plist_t sub = plist_array_get_item(subresources, i);
            const auto url = stringOf(item(sub, "WebResourceURL"));
            const auto bytes = dataOf(item(sub, "WebResourceData"));
            if (url && bytes)
                document->addKnownResource(QUrl(*url), *bytes);
        }
    }
    document->setHtml(text);
    document->removeRefusedImages();
    RichTextReader::Result result;
    const QString title = document->metaInformation(QTextDocument::DocumentTitle).trimmed();
    if (!title.isEmpty())
        result.title = title;
    result.document = std::move(document);
    return result;
}

} // namespace qv
