#pragma once

#include "documents/DocBlock.h"

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

    // Containers nested deeper than this are read as the plain text of what they hold.
    static constexpr int maximumDepth = 64;
};

} // namespace qv
