#pragma once

#include "documents/model/DocBlock.h"

#include <functional>

namespace qv {

// Blocks to Markdown text that the Markdown reader reads back to the same blocks.
class MarkdownWriter {
public:
    MarkdownWriter() = delete;

    // The reference written for an image block at a position; none leaves the path.
    using ImageReference = std::function<std::optional<QString>(int index, const DocBlock& image)>;

    static QString renderMarkdown(const QList<DocBlock>& blocks, const ImageReference& imageReference = {});
    static QString markdownInline(const QList<DocRun>& runs);
    static QString markdownRun(const DocRun& run);
    static QString markdownCodeSpan(const QString& text);
    static QString escapeMarkdown(const QString& text);
    static QString markdownTable(const QList<QStringList>& rows);
};

} // namespace qv
