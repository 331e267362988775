#pragma once

#include "documents/model/DocBlock.h"

#include <QUrl>

#include <functional>

namespace qv {

// Blocks to an HTML or XHTML fragment: the elements that go inside a page's body.
class HTMLRenderer {
public:
    HTMLRenderer() = delete;

    using ImageReference = std::function<std::optional<QString>(int index, const DocBlock& image)>;

    // Image sources come from imageReference; an image without one is left out.
    static QString renderHTML(const QList<DocBlock>& blocks, bool xhtml, const ImageReference& imageReference);

    // Every image travels inside the page as a data URI; paths are read against baseURL.
    static QString renderHTMLWithEmbeddedImages(const QList<DocBlock>& blocks, bool xhtml,
                                                const std::optional<QUrl>& baseURL);

    // The source renderHTMLWithEmbeddedImages gives an image block; none leaves it out.
    static std::optional<QString> embeddedImageSource(const DocBlock& image, const std::optional<QUrl>& baseURL);

    static QString htmlInline(const QList<DocRun>& runs);
    static QString htmlRun(const DocRun& run);
    static QString escapeHTML(const QString& text);

    // "data:<type>;base64,..." for bytes a browser shows: PNG, JPEG, GIF, WebP and SVG as they
    // are (told by their content), anything else decoded and re-encoded as PNG. None when the
    // bytes are no picture.
    static std::optional<QString> imageDataURI(const QByteArray& bytes);

    // The text without the code points XML 1.0 forbids.
    static QString removeXMLForbidden(const QString& text);
};

} // namespace qv
