#include "documents/model/DocumentMetadata.h"

#include "documents/DocumentPlanner.h"
#include "documents/office/OfficeEncryption.h"
#include "documents/readers/DocumentLoader.h"
#include "documents/readers/ZipPackageReader.h"
#include "documents/writers/DocumentOutput.h"
#include "documents/writers/DocumentWriter.h"
#include "documents/writers/XMLNamespaces.h"
#include "documents/writers/ZipPackageWriter.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QUuid>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <memory>

namespace qv {
namespace {

// Never NOENT or DTDLOAD: entities stay unexpanded and nothing outside the part is read.
constexpr int xmlOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

DocPtr parse(const QByteArray& bytes)
{
    if (bytes.size() > std::numeric_limits<int>::max())
        return nullptr;
    return DocPtr(xmlReadMemory(bytes.constData(), int(bytes.size()), "part.xml", nullptr, xmlOptions));
}

QByteArray serialise(xmlDoc* doc, bool pretty)
{
    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(doc, &text, &size, "UTF-8", pretty ? 1 : 0);
    QByteArray bytes(reinterpret_cast<const char*>(text), size);
    xmlFree(text);
    return bytes;
}

QString localName(const xmlNode* node)
{
    return node->name ? QString::fromUtf8(reinterpret_cast<const char*>(node->name)) : QString();
}

const char declaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

QString freshName()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

ZipPackageReader::Messages packageMessages(const QString& kind)
{
    return {QStringLiteral("This %1 is damaged").arg(kind), QStringLiteral("This %1 is too large").arg(kind)};
}

// Copies an entry through in pieces, so no part but the edited ones is held whole.
void copyEntry(ZipPackageWriter& writer, const QString& name, ZipPackageReader::Entry& entry)
{
    writer.begin(name);
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    for (;;) {
        const qint64 got = entry.read(buffer.data(), buffer.size());
        if (got <= 0)
            break;
        writer.write(QByteArray(buffer.constData(), got));
    }
}

QString epubPackagePath(const QString& path, std::stop_token stop)
{
    ZipPackageReader reader(path, packageMessages(QStringLiteral("book")), stop);
    QString packagePath;
    reader.forEachEntry([&](const QString& name, ZipPackageReader::Entry& entry) {
        if (name != QLatin1String("META-INF/container.xml"))
            return;
        const DocPtr doc = parse(entry.readAll(DocumentMetadata::maximumPartBytes));
        if (!doc)
            return;
        std::unique_ptr<xmlXPathContext, decltype(&xmlXPathFreeContext)> context(xmlXPathNewContext(doc.get()), xmlXPathFreeContext);
        std::unique_ptr<xmlXPathObject, decltype(&xmlXPathFreeObject)> found(
            xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>("//*[local-name()='rootfile']/@full-path"), context.get()),
            xmlXPathFreeObject);
        if (found && found->nodesetval && found->nodesetval->nodeNr > 0) {
            xmlChar* value = xmlNodeGetContent(found->nodesetval->nodeTab[0]);
            packagePath = QString::fromUtf8(reinterpret_cast<const char*>(value));
            xmlFree(value);
        }
    });
    if (packagePath.isEmpty())
        throw EngineError(QStringLiteral("This book is damaged"), QStringLiteral("No package document in META-INF/container.xml"));
    return packagePath;
}

QUrl rewritePackage(const FileInfo& file, const QString& extension, const DocumentPlanner& planner, std::stop_token stop,
                    const std::function<std::optional<QByteArray>(const QString& name, ZipPackageReader::Entry&)>& edit,
                    bool mimetypeFirst, const QString& baseName)
{
    const QUrl work = planner.workURL(extension, freshName());
    ZipPackageReader reader(file.path(), packageMessages(extension == QLatin1String("epub") ? QStringLiteral("book") : QStringLiteral("document")), stop);
    ZipPackageWriter writer(work.toLocalFile(), stop);
    if (mimetypeFirst)
        writer.add(QStringLiteral("mimetype"), QByteArrayLiteral("application/epub+zip"), ZipPackageWriter::Method::stored);
    reader.forEachEntry([&](const QString& name, ZipPackageReader::Entry& entry) {
        throwIfCancelled(stop);
        if (mimetypeFirst && name == QLatin1String("mimetype"))
            return;
        if (const std::optional<QByteArray> edited = edit(name, entry))
            writer.add(name, *edited, ZipPackageWriter::Method::deflated);
        else
            copyEntry(writer, name, entry);
    });
    writer.finish();
    throwIfCancelled(stop);
    return planner.deliver(work, baseName, extension);
}

} // namespace

QByteArray DocumentMetadata::coreProperties()
{
    return (QString::fromLatin1(declaration) + QStringLiteral("<cp:coreProperties xmlns:cp=\"")
            + XMLNamespaces::value(QStringLiteral("coreProperties")) + QStringLiteral("\" xmlns:dc=\"")
            + XMLNamespaces::value(QStringLiteral("dc")) + QStringLiteral("\" xmlns:dcterms=\"")
            + XMLNamespaces::value(QStringLiteral("dcterms")) + QStringLiteral("\" xmlns:dcmitype=\"")
            + XMLNamespaces::value(QStringLiteral("dcmitype")) + QStringLiteral("\" xmlns:xsi=\"")
            + XMLNamespaces::value(QStringLiteral("xsi")) + QStringLiteral("\"></cp:coreProperties>"))
        .toUtf8();
}

QByteArray DocumentMetadata::extendedProperties()
{
    return (QString::fromLatin1(declaration) + QStringLiteral("<Properties xmlns=\"")
            + XMLNamespaces::value(QStringLiteral("extendedProperties")) + QStringLiteral("\" xmlns:vt=\"")
            + XMLNamespaces::value(QStringLiteral("docPropsVTypes")) + QStringLiteral("\"></Properties>"))
        .toUtf8();
}

std::optional<QByteArray> DocumentMetadata::customProperties(const QByteArray& part)
{
    const QString text = QString::fromUtf8(part);
    const qsizetype start = text.indexOf(QLatin1String("<Properties"));
    if (start < 0)
        return std::nullopt;
    const qsizetype end = text.indexOf(QLatin1Char('>'), start);
    if (end < 0)
        return std::nullopt;
    QString tag = text.mid(start, end - start + 1);
    tag.replace(QLatin1String("/>"), QLatin1String(">"));
    return (QString::fromLatin1(declaration) + tag + QStringLiteral("</Properties>")).toUtf8();
}

std::optional<QByteArray> DocumentMetadata::anonymousWordPart(const QByteArray& part)
{
    // Most parts name nobody; leave those byte for byte.
    static const QRegularExpression named(QStringLiteral("w:(author|initials|date)\\s*="));
    if (!named.match(QString::fromUtf8(part)).hasMatch())
        return std::nullopt;
    const DocPtr doc = parse(part);
    if (!doc)
        return std::nullopt;
    bool changed = false;
    std::function<void(xmlNode*)> walk = [&](xmlNode* node) {
        for (; node; node = node->next) {
            if (node->type != XML_ELEMENT_NODE)
                continue;
            for (xmlAttr* attribute = node->properties; attribute; attribute = attribute->next) {
                const QString name = localName(reinterpret_cast<xmlNode*>(attribute));
                const bool word = attribute->ns && attribute->ns->prefix
                    && QByteArray(reinterpret_cast<const char*>(attribute->ns->prefix)) == "w";
                if (word && (name == QLatin1String("author") || name == QLatin1String("initials") || name == QLatin1String("date"))) {
                    xmlNodeSetContent(reinterpret_cast<xmlNode*>(attribute), reinterpret_cast<const xmlChar*>(""));
                    changed = true;
                }
            }
            walk(node->children);
        }
    };
    walk(xmlDocGetRootElement(doc.get()));
    if (!changed)
        return std::nullopt;
    return serialise(doc.get(), false);
}

std::optional<QByteArray> DocumentMetadata::emptyPeople(const QByteArray& part)
{
    const DocPtr doc = parse(part);
    xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    if (!root)
        return std::nullopt;
    while (xmlNode* child = root->children) {
        xmlUnlinkNode(child);
        xmlFreeNode(child);
    }
    return serialise(doc.get(), false);
}

std::optional<QByteArray> DocumentMetadata::filteredPackageDocument(const QByteArray& part)
{
    const DocPtr doc = parse(part);
    if (!doc)
        throw EngineError(QStringLiteral("This book is damaged"), QStringLiteral("The package document is not XML"));
    std::unique_ptr<xmlXPathContext, decltype(&xmlXPathFreeContext)> context(xmlXPathNewContext(doc.get()), xmlXPathFreeContext);
    std::unique_ptr<xmlXPathObject, decltype(&xmlXPathFreeObject)> found(
        xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>("//*[local-name()='metadata']"), context.get()),
        xmlXPathFreeObject);
    if (found && found->nodesetval && found->nodesetval->nodeNr > 0
        && found->nodesetval->nodeTab[0]->type == XML_ELEMENT_NODE) {
        xmlNode* metadata = found->nodesetval->nodeTab[0];
        xmlNode* child = metadata->children;
        while (child) {
            xmlNode* next = child->next;
            if (child->type == XML_ELEMENT_NODE) {
                const QString name = localName(child);
                xmlChar* property = xmlGetProp(child, reinterpret_cast<const xmlChar*>("property"));
                const bool modified = property && QByteArray(reinterpret_cast<const char*>(property)) == "dcterms:modified";
                xmlFree(property);
                const bool keep = name == QLatin1String("identifier") || name == QLatin1String("title")
                    || name == QLatin1String("language") || modified;
                if (!keep) {
                    xmlUnlinkNode(child);
                    xmlFreeNode(child);
                }
            }
            child = next;
        }
    }
    return serialise(doc.get(), true);
}

QUrl DocumentMetadata::removeDocumentMetadata(const FileInfo& file, const OperationContext& context, const DocumentPlanner& planner)
{
    const QString suffix = context.settings.suffixForOperation(QStringLiteral("removeMetadata"));
    const QString baseName = planner.outputBaseName(suffix);
    const QString id = file.format ? file.format->id : QString();
    const std::stop_token stop = context.stopToken;

    if (id != QLatin1String("rtf") && id != QLatin1String("epub") && OfficeEncryption::isEncryptedPackage(file.path()))
        throw EngineError(OfficeEncryption::passwordProtectedMessage);
    if (id == QLatin1String("docx")) {
        static const QRegularExpression wordPart(QStringLiteral("^word/[^/]+\\.xml$"));
        return rewritePackage(file, id, planner, stop, [](const QString& name, ZipPackageReader::Entry& entry) -> std::optional<QByteArray> {
            if (name == QLatin1String("docProps/core.xml"))
                return coreProperties();
            if (name == QLatin1String("docProps/app.xml"))
                return extendedProperties();
            // Once read, a part that needs no change goes as it was.
            const auto edited = [&](auto change) -> std::optional<QByteArray> {
                const QByteArray bytes = entry.readAll(maximumPartBytes);
                return change(bytes).value_or(bytes);
            };
            if (name == QLatin1String("docProps/custom.xml"))
                return edited(customProperties);
            if (name == QLatin1String("word/people.xml"))
                return edited(emptyPeople);
            if (wordPart.match(name).hasMatch())
                return edited(anonymousWordPart);
            return std::nullopt;
        }, false, baseName);
    }
    if (id == QLatin1String("epub")) {
        const QString packagePath = epubPackagePath(file.path(), stop);
        return rewritePackage(file, id, planner, stop, [&](const QString& name, ZipPackageReader::Entry& entry) -> std::optional<QByteArray> {
            if (name == packagePath)
                return filteredPackageDocument(entry.readAll(maximumPartBytes));
            return std::nullopt;
        }, true, baseName);
    }

    std::unique_ptr<LoadedDocument> document = DocumentLoader::loadDocument(file, planner.workDirectory(), stop);
    DocumentOutput target = DocumentOutput::rtf;
    if (id == QLatin1String("odt"))
        target = DocumentOutput::odt;
    else if (id == QLatin1String("doc"))
        target = DocumentOutput::doc;
    SettingsSnapshot settings = context.settings;
    settings.preserveMetadata = false;
    const QString extension = documentOutputRawValue(target);
    const QUrl work = planner.workURL(extension, freshName());
    DocumentWriter::writeDocument(*document, target, work, settings, context.options, planner.workDirectory(), stop, baseName);
    throwIfCancelled(stop);
    return planner.deliver(work, baseName, extension);
}

} // namespace qv
