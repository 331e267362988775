#pragma once

// A small valid EPUB, one of whose parts the fuzzer's bytes replace.

#include "FuzzSupport.h"

namespace qvfuzz {

enum class EpubPart { chapter, package, container, nav, secondChapter, count };

inline QByteArray epubPackage(EpubPart replaced, const QByteArray& bytes)
{
    QList<QPair<QString, QByteArray>> parts{
        {QStringLiteral("mimetype"), "application/epub+zip"},
        {QStringLiteral("META-INF/container.xml"),
         "<?xml version=\"1.0\"?><container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">"
         "<rootfiles><rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/></rootfiles></container>"},
        {QStringLiteral("OEBPS/content.opf"),
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" unique-identifier=\"id\">"
         "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:identifier id=\"id\">urn:uuid:1</dc:identifier>"
         "<dc:title>Book</dc:title><dc:creator>Writer</dc:creator><dc:language>en</dc:language></metadata>"
         "<manifest><item id=\"nav\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" properties=\"nav\"/>"
         "<item id=\"c1\" href=\"text/one.xhtml\" media-type=\"application/xhtml+xml\"/>"
         "<item id=\"c2\" href=\"text/two%20b.xhtml#start\" media-type=\"application/xhtml+xml\"/>"
         "<item id=\"img\" href=\"images/pic.png\" media-type=\"image/png\"/></manifest>"
         "<spine><itemref idref=\"c1\"/><itemref idref=\"c2\"/></spine></package>"},
        {QStringLiteral("OEBPS/nav.xhtml"),
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><html xmlns=\"http://www.w3.org/1999/xhtml\" xmlns:epub=\"http://www.idpf.org/2007/ops\">"
         "<body><nav epub:type=\"toc\"><ol><li><a href=\"text/one.xhtml\">One</a></li></ol></nav></body></html>"},
        {QStringLiteral("OEBPS/text/one.xhtml"),
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>One</title></head>"
         "<body><h1>Chapter</h1><p>Some <em>text</em> and <strong>more</strong>.</p><img src=\"../images/pic.png\" alt=\"pic\"/>"
         "<ul><li>a</li><li>b</li></ul><table><tr><td>1</td></tr></table></body></html>"},
        {QStringLiteral("OEBPS/text/two b.xhtml"),
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><html xmlns=\"http://www.w3.org/1999/xhtml\"><body><p>Two</p></body></html>"},
        {QStringLiteral("OEBPS/images/pic.png"),
         QByteArray::fromBase64("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==")},
    };
    static const char* const names[] = {"OEBPS/text/one.xhtml", "OEBPS/content.opf", "META-INF/container.xml",
                                        "OEBPS/nav.xhtml", "OEBPS/text/two b.xhtml"};
    const QString name = QLatin1String(names[int(replaced)]);
    for (auto& part : parts) {
        if (part.first == name)
            part.second = bytes;
    }
    return storedZip(parts);
}

} // namespace qvfuzz
