#include "documents/readers/EPUBReader.h"

#include "documents/readers/TextLoaders.h"
#include "documents/readers/XHTMLParser.h"
#include "documents/readers/ZipPackageReader.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/errors/Error.h"
#include "model/errors/SystemError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <unistd.h>

namespace qv {
namespace {

const QString damagedMessage = QStringLiteral("This e-book is damaged");
const QString noContainerMessage = QStringLiteral("This file is not a valid EPUB (no container.xml)");
const QString unreadablePackageMessage = QStringLiteral("This file is not a valid EPUB (unreadable package)");
const QString noChaptersMessage = QStringLiteral("This e-book has no readable chapters");

xmlParserInputPtr refuseExternalEntity(const char*, const char*, xmlParserCtxtPtr)
{
    return nullptr;
}

void silentStructuredError(void*, xmlErrorPtr) {}

using Doc = std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)>;

// Well-formed XML of a file inside the book, or none. Nothing outside is ever loaded.
Doc readXML(const QString& path)
{
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(refuseExternalEntity);
    });
    xmlSetStructuredErrorFunc(nullptr, silentStructuredError);
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly) || file.size() > EPUBReader::maximumPackageBytes)
        return Doc(nullptr, xmlFreeDoc);
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Doc(nullptr, xmlFreeDoc);
    return Doc(xmlReadMemory(bytes.constData(), int(bytes.size()), nullptr, nullptr,
                             XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
               xmlFreeDoc);
}

QString xmlString(const xmlChar* text)
{
    return text ? QString::fromUtf8(reinterpret_cast<const char*>(text)) : QString();
}

// The nodes a query finds, in document order; none when it fails.
QList<xmlNodePtr> query(xmlDocPtr doc, const char* path)
{
    QList<xmlNodePtr> nodes;
    const std::unique_ptr<xmlXPathContext, void (*)(xmlXPathContextPtr)> context(xmlXPathNewContext(doc),
                                                                               xmlXPathFreeContext);
    if (!context)
        return nodes;
    const std::unique_ptr<xmlXPathObject, void (*)(xmlXPathObjectPtr)> result(
        xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(path), context.get()), xmlXPathFreeObject);
    if (!result || !result->nodesetval)
        return nodes;
    for (int i = 0; i < result->nodesetval->nodeNr; ++i)
        nodes.append(result->nodesetval->nodeTab[i]);
    return nodes;
}

QString stringValue(xmlNodePtr node)
{
    xmlChar* text = xmlNodeGetContent(node);
    const QString value = xmlString(text);
    xmlFree(text);
    return value;
}

std::optional<QString> attribute(xmlNodePtr node, const char* name)
{
    if (!xmlHasProp(node, reinterpret_cast<const xmlChar*>(name)))
        return std::nullopt;
    xmlChar* text = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    const QString value = xmlString(text);
    xmlFree(text);
    return value;
}

std::optional<QString> firstText(xmlDocPtr doc, const char* path)
{
    const QList<xmlNodePtr> nodes = query(doc, path);
    if (nodes.isEmpty())
        return std::nullopt;
    return stringValue(nodes.first()).trimmed();
}

bool isInside(const QString& path, const QString& folder)
{
    return path.startsWith(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'));
}

// The path inside root that a relative reference names, links resolved; none when it leads
// outside (or is no local path at all).
std::optional<QString> confinedPath(const QString& root, const QString& base, const QString& reference)
{
    if (reference.isEmpty() || reference.startsWith(QLatin1Char('/')) || QUrl(reference).scheme().size() > 1)
        return std::nullopt;
    const QString path = QDir::cleanPath(base + QLatin1Char('/') + reference);
    if (!isInside(path, root))
        return std::nullopt;
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink()) {
        const QString canonical = info.canonicalFilePath();
        if (canonical.isEmpty() || !isInside(canonical, root))
            return std::nullopt;
        return canonical;
    }
    return path;
}

// Writes one entry below root; entries that cannot live there are skipped.
void unpackEntry(const QString& root, const QString& name, ZipPackageReader::Entry& entry)
{
    QStringList parts;
    for (const QString& part : name.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String(".."))
            return;
        if (part != QLatin1String("."))
            parts.append(part);
    }
    if (parts.isEmpty())
        return;
    const QString fileName = parts.takeLast();
    // The folder is ours and holds no links: only what we make below is ever in it.
    const QString folder = parts.isEmpty() ? root : root + QLatin1Char('/') + parts.join(QLatin1Char('/'));
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir() || QFileInfo(folder).isSymLink())
        return;
    const QString path = folder + QLatin1Char('/') + fileName;
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (errno == EEXIST || errno == ENAMETOOLONG || errno == EISDIR || errno == ENOTDIR || errno == ELOOP
            || errno == EINVAL)
            return; // a second entry of the same name, or a name this file system cannot hold
        throw SystemError::fromErrno(errno, QStringLiteral("Cannot create ") + path);
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    char buffer[1 << 16];
    for (;;) {
        const qint64 n = entry.read(buffer, sizeof buffer);
        if (n == 0)
            break;
        qint64 done = 0;
        while (done < n) {
            const ssize_t w = ::write(fd, buffer + done, size_t(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                throw SystemError::fromErrno(w < 0 ? errno : ENOSPC, QStringLiteral("Cannot write ") + path);
            done += w;
        }
    }
}

} // namespace

EPUBReader::Book EPUBReader::read(const QUrl& file, const QUrl& folder, std::stop_token stop)
{
    const QString root = QFileInfo(folder.toLocalFile()).canonicalFilePath();
    if (root.isEmpty())
        throw SystemError::fromErrno(ENOENT, QStringLiteral("Cannot open ") + folder.toLocalFile());
    ZipPackageReader reader(file.toLocalFile(), {damagedMessage, damagedMessage}, stop);
    reader.forEachEntry([&](const QString& name, ZipPackageReader::Entry& entry) { unpackEntry(root, name, entry); });

    const Doc container = readXML(root + QStringLiteral("/META-INF/container.xml"));
    if (!container)
        throw EngineError(noContainerMessage);
    const QList<xmlNodePtr> rootfiles = query(container.get(), "//*[local-name()='rootfile']/@full-path");
    const QString fullPath = rootfiles.isEmpty() ? QString() : stringValue(rootfiles.first());
    if (fullPath.isEmpty())
        throw EngineError(noContainerMessage);
    const std::optional<QString> packagePath = confinedPath(root, root, fullPath);
    if (!packagePath)
        throw EngineError(unreadablePackageMessage);
    const Doc package = readXML(*packagePath);
    if (!package)
        throw EngineError(unreadablePackageMessage);
    const QString base = QFileInfo(*packagePath).absolutePath();

    struct Item {
        QString href;
        QString mediaType;
    };
    QHash<QString, Item> manifest;
    for (xmlNodePtr node : query(package.get(), "//*[local-name()='manifest']/*[local-name()='item']")) {
        if (node->type != XML_ELEMENT_NODE)
            continue;
        const std::optional<QString> id = attribute(node, "id");
        const std::optional<QString> href = attribute(node, "href");
        if (!id || !href)
            continue;
        manifest.insert(*id, {*href, attribute(node, "media-type").value_or(QString())});
    }

    Book book;
    book.root = QUrl::fromLocalFile(root);
    book.packageURL = QUrl::fromLocalFile(*packagePath);
    for (xmlNodePtr node : query(package.get(), "//*[local-name()='spine']/*[local-name()='itemref']")) {
        throwIfCancelled(stop);
        if (node->type != XML_ELEMENT_NODE)
            continue;
        const std::optional<QString> idref = attribute(node, "idref");
        const auto found = idref ? manifest.constFind(*idref) : manifest.constEnd();
        if (found == manifest.constEnd())
            continue;
        if (!found->mediaType.contains(QLatin1String("html")) && !found->href.endsWith(QLatin1String("html")))
            continue;
        QString href = found->href;
        href.truncate(href.indexOf(QLatin1Char('#')) < 0 ? href.size() : href.indexOf(QLatin1Char('#')));
        QString decoded = QUrl::fromPercentEncoding(href.toUtf8());
        if (decoded.contains(QChar::ReplacementCharacter) && !href.contains(QChar::ReplacementCharacter))
            decoded = href;
        if (const std::optional<QString> chapter = confinedPath(root, base, decoded))
            book.chapters.append(QUrl::fromLocalFile(*chapter));
    }
    if (book.chapters.isEmpty())
        throw EngineError(noChaptersMessage);
    book.title = firstText(package.get(), "//*[local-name()='metadata']/*[local-name()='title']");
    book.author = firstText(package.get(), "//*[local-name()='metadata']/*[local-name()='creator']");
    book.language = firstText(package.get(), "//*[local-name()='metadata']/*[local-name()='language']");
    return book;
}

DocumentModel EPUBReader::documentModel(const Book& book, std::stop_token stop, int* picturesLeftOut)
{
    DocumentModel model;
    model.title = book.title;
    for (const QUrl& chapter : book.chapters) {
        throwIfCancelled(stop);
        QList<DocBlock> blocks;
        try {
            const QFileInfo info(chapter.toLocalFile());
            if (!info.isFile())
                continue;
            const QByteArray bytes =
                TextLoaders::readFileBytes(chapter, maximumChapterBytes, QStringLiteral("This e-book is damaged"));
            blocks = XHTMLParser::parse(bytes, QUrl::fromLocalFile(info.absolutePath()), true, book.root,
                                        picturesLeftOut);
        } catch (const Error&) {
            continue;
        }
        if (blocks.isEmpty())
            continue;
        if (!model.blocks.isEmpty())
            model.blocks.append(DocBlock::pageBreak());
        model.blocks.append(blocks);
    }
    return model;
}

} // namespace qv
