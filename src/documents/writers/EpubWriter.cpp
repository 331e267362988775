#include "documents/writers/EpubWriter.h"

#include "documents/model/DocumentModel.h"
#include "documents/readers/LanguageDetection.h"
#include "documents/writers/HTMLRenderer.h"
#include "documents/writers/PackageImage.h"
#include "documents/writers/XMLNamespaces.h"
#include "documents/writers/ZipPackageWriter.h"

#include <QDateTime>
#include <QHash>
#include <QUuid>

namespace qv {
namespace {

const QString styleSheet = QStringLiteral(
    "body { font-family: -apple-system, \"Helvetica Neue\", Helvetica, Arial, sans-serif; line-height: 1.55; "
    "max-width: 46em; margin: 2em auto; padding: 0 1em; color: #1d1d1f; }\n"
    "h1, h2, h3, h4 { line-height: 1.25; margin: 1.4em 0 0.5em; }\n"
    "pre { background: #f5f5f7; padding: 0.8em 1em; border-radius: 8px; overflow-x: auto; }\n"
    "code { font-family: Menlo, Consolas, monospace; font-size: 0.92em; }\n"
    "blockquote { margin: 1em 0; padding-left: 1em; border-left: 3px solid #d2d2d7; color: #515154; }\n"
    "table { border-collapse: collapse; margin: 1em 0; }\n"
    "th, td { border: 1px solid #d2d2d7; padding: 0.35em 0.7em; text-align: left; }\n"
    "th { background: #f5f5f7; }\n"
    "img { max-width: 100%; height: auto; }\n"
    "hr { border: none; border-top: 1px solid #d2d2d7; margin: 2em 0; }");

const QString containerDocument = QStringLiteral(
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">\n"
    "  <rootfiles>\n"
    "    <rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/>\n"
    "  </rootfiles>\n"
    "</container>\n");

QString ns(const char* key)
{
    return XMLNamespaces::value(QString::fromLatin1(key));
}

QString xmlText(const QString& text)
{
    return HTMLRenderer::escapeHTML(HTMLRenderer::removeXMLForbidden(text));
}

// A link a reading system can follow from inside the book.
bool leadsOutOfTheBook(const QString& link)
{
    const QString scheme = QUrl(link).scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https") || scheme == QLatin1String("mailto");
}

QList<DocBlock> withReadableLinks(QList<DocBlock> blocks)
{
    for (DocBlock& block : blocks) {
        for (DocRun& run : block.runs) {
            if (run.link && !leadsOutOfTheBook(*run.link))
                run.link.reset();
        }
    }
    return blocks;
}

// The block's own extension when it names what the bytes are, else the bytes' kind.
QString imageExtension(const QString& blockExt, const QString& kind)
{
    if (kind == QLatin1String("jpeg") && (blockExt == QLatin1String("jpg") || blockExt == QLatin1String("jpeg")))
        return blockExt;
    return kind;
}

QString nonEmpty(const QString& text, const QString& fallback)
{
    return HTMLRenderer::removeXMLForbidden(text).trimmed().isEmpty() ? fallback : text;
}

} // namespace

QString epubMediaType(const QString& ext)
{
    if (ext == QLatin1String("jpg") || ext == QLatin1String("jpeg"))
        return QStringLiteral("image/jpeg");
    if (ext == QLatin1String("gif"))
        return QStringLiteral("image/gif");
    if (ext == QLatin1String("svg"))
        return QStringLiteral("image/svg+xml");
    if (ext == QLatin1String("webp"))
        return QStringLiteral("image/webp");
    return QStringLiteral("image/png");
}

void writeEPUB(const QList<DocBlock>& sourceBlocks, const QString& sourceTitle, const std::optional<QString>& author,
               const QString& destination, const ImageDataLoader& imageDataLoader, std::stop_token stop)
{
    using M = ZipPackageWriter::Method;
    const QString title = nonEmpty(sourceTitle, QStringLiteral("Untitled"));
    DocumentModel model;
    model.blocks = withReadableLinks(sourceBlocks);
    const QList<DocumentModel::Chapter> chapters = model.chapters(2);

    ZipPackageWriter zip(destination, stop);
    zip.add(QStringLiteral("mimetype"), QByteArrayLiteral("application/epub+zip"), M::stored);
    zip.add(QStringLiteral("META-INF/container.xml"), containerDocument.toUtf8(), M::deflated);
    zip.add(QStringLiteral("OEBPS/style.css"), styleSheet.toUtf8(), M::deflated);

    struct ManifestItem {
        QString id;
        QString href;
        QString mediaType;
    };
    QList<ManifestItem> images;
    QHash<QString, QString> imageTable;
    const auto key = [](qsizetype chapter, qsizetype block) {
        return QString::number(chapter) + QLatin1Char(':') + QString::number(block);
    };
    for (qsizetype c = 0; c < chapters.size(); ++c) {
        for (qsizetype b = 0; b < chapters[c].blocks.size(); ++b) {
            const DocBlock& block = chapters[c].blocks[b];
            if (block.kind != DocBlock::Kind::image)
                continue;
            std::optional<QByteArray> bytes = block.data;
            if (!bytes && block.path && imageDataLoader)
                bytes = imageDataLoader(*block.path);
            if (!bytes)
                continue;
            const std::optional<PackageImage> image = PackageImage::fromBytes(*bytes);
            if (!image)
                continue;
            const QString n = QString::number(images.size() + 1);
            const QString ext = imageExtension(block.ext, image->ext);
            const QString href = QStringLiteral("images/image-") + n + QLatin1Char('.') + ext;
            zip.add(QStringLiteral("OEBPS/") + href, image->bytes, M::stored);
            images.append({QStringLiteral("img") + n, href, epubMediaType(ext)});
            imageTable.insert(key(c, b), href);
        }
    }

    QStringList navigation;
    for (qsizetype c = 0; c < chapters.size(); ++c) {
        const QString n = QString::number(c + 1);
        const QString fallback = c == 0 ? title : QStringLiteral("Chapter ") + n;
        const QString chapterTitle = nonEmpty(chapters[c].title.value_or(fallback), fallback);
        const QString body = HTMLRenderer::renderHTML(
            chapters[c].blocks, true, [&](int index, const DocBlock&) -> std::optional<QString> {
                const auto found = imageTable.constFind(key(c, index));
                return found == imageTable.constEnd() ? std::nullopt : std::optional<QString>(*found);
            });
        const QString file = QStringLiteral("chapter-") + n + QStringLiteral(".xhtml");
        const QString page = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n<html xmlns=\"")
            + ns("xhtml") + QStringLiteral("\" xmlns:epub=\"") + ns("ops")
            + QStringLiteral("\">\n<head>\n<meta charset=\"utf-8\" />\n<title>") + xmlText(chapterTitle)
            + QStringLiteral("</title>\n<link rel=\"stylesheet\" type=\"text/css\" href=\"style.css\" />\n</head>\n"
                             "<body>\n")
            + body + QStringLiteral("\n</body>\n</html>\n");
        zip.add(QStringLiteral("OEBPS/") + file, page.toUtf8(), M::deflated);
        navigation.append(QStringLiteral("      <li><a href=\"") + file + QStringLiteral("\">") + xmlText(chapterTitle)
                          + QStringLiteral("</a></li>"));
    }

    const QString nav = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE html>\n<html xmlns=\"")
        + ns("xhtml") + QStringLiteral("\" xmlns:epub=\"") + ns("ops")
        + QStringLiteral("\">\n<head><meta charset=\"utf-8\" /><title>") + xmlText(title)
        + QStringLiteral("</title></head>\n<body>\n  <nav epub:type=\"toc\" id=\"toc\">\n    <h1>Contents</h1>\n"
                         "    <ol>\n")
        + navigation.join(QLatin1Char('\n')) + QStringLiteral("\n    </ol>\n  </nav>\n</body>\n</html>\n");
    zip.add(QStringLiteral("OEBPS/nav.xhtml"), nav.toUtf8(), M::deflated);

    QStringList manifest{
        QStringLiteral("    <item id=\"nav\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" properties=\"nav\"/>"),
        QStringLiteral("    <item id=\"css\" href=\"style.css\" media-type=\"text/css\"/>")};
    QStringList spine;
    for (qsizetype c = 0; c < chapters.size(); ++c) {
        const QString n = QString::number(c + 1);
        manifest.append(QStringLiteral("    <item id=\"c") + n + QStringLiteral("\" href=\"chapter-") + n
                        + QStringLiteral(".xhtml\" media-type=\"application/xhtml+xml\"/>"));
        spine.append(QStringLiteral("    <itemref idref=\"c") + n + QStringLiteral("\"/>"));
    }
    for (const ManifestItem& item : images)
        manifest.append(QStringLiteral("    <item id=\"") + item.id + QStringLiteral("\" href=\"") + item.href
                        + QStringLiteral("\" media-type=\"") + item.mediaType + QStringLiteral("\"/>"));
    const QString modified = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ"));
    const QString creator = author ? QStringLiteral("\n    <dc:creator>") + xmlText(*author) + QStringLiteral("</dc:creator>")
                                   : QString();
    const QString package = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<package xmlns=\"") + ns("opf")
        + QStringLiteral("\" version=\"3.0\" unique-identifier=\"bookid\">\n  <metadata xmlns:dc=\"") + ns("dc")
        + QStringLiteral("\">\n    <dc:identifier id=\"bookid\">urn:uuid:")
        + QUuid::createUuid().toString(QUuid::WithoutBraces).toLower() + QStringLiteral("</dc:identifier>\n    <dc:title>")
        + xmlText(title) + QStringLiteral("</dc:title>\n    <dc:language>") + detectLanguage(sourceBlocks)
        + QStringLiteral("</dc:language>") + creator + QStringLiteral("\n    <meta property=\"dcterms:modified\">")
        + modified + QStringLiteral("</meta>\n  </metadata>\n  <manifest>\n") + manifest.join(QLatin1Char('\n'))
        + QStringLiteral("\n  </manifest>\n  <spine>\n") + spine.join(QLatin1Char('\n'))
        + QStringLiteral("\n  </spine>\n</package>\n");
    zip.add(QStringLiteral("OEBPS/content.opf"), package.toUtf8(), M::deflated);
    zip.finish();
}

} // namespace qv
