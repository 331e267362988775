#pragma once

#include "documents/model/DocBlock.h"

#include <QByteArrayView>

#include <functional>
#include <utility>

namespace qv {

// Markdown (CommonMark with tables and strike-through) to blocks. Block structure comes from
// the parser's nodes, each node one block, so rules are exactly the parser's thematic breaks.
class MarkdownReader {
public:
    MarkdownReader() = delete;

    // The title is the given one, else the text of the first level-1 heading. Never throws.
    static std::pair<std::optional<QString>, QList<DocBlock>>
    parseMarkdown(QString source, const std::optional<QString>& title = std::nullopt);

    // An image block's source in the page; none leaves the image out.
    using ImageSource = std::function<std::optional<QString>(const DocBlock& image)>;

    // The HTML fragment that HTMLRenderer::renderHTML makes of the blocks parseMarkdown reads,
    // byte for byte in UTF-8, written straight from the parser's nodes and handed to write a
    // piece at a time: a long text is never whole in memory as blocks or as HTML. Returns the
    // title parseMarkdown would. Never throws but what write or imageSource throws.
    static std::optional<QString> writeHTML(QString source, const ImageSource& imageSource,
                                            const std::function<void(QByteArrayView)>& write);

    // Containers nested deeper than this are read as the plain text of what they hold.
    static constexpr int maximumDepth = 64;
};

} // namespace qv
