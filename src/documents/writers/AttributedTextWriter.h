#pragma once

#include "documents/model/DocBlock.h"

#include <QTextDocument>

#include <functional>
#include <memory>

namespace qv {

// Blocks laid out as rich text: graded headings, real lists, tables with measured columns, code
// in a shaded one-column table, images as resources keeping their bytes and extension. What
// the attributed-text reader reads back to the same blocks.
class AttributedTextWriter {
public:
    AttributedTextWriter() = delete;

    // The bytes of an image given by path, for image blocks without data.
    using ImageLoader = std::function<std::optional<QByteArray>(const QString& path)>;

    static std::unique_ptr<QTextDocument> attributedStringFromDocumentModel(
        const ImageLoader& imageLoader, const QList<DocBlock>& blocks, double baseFontSize = 12,
        double maxImageWidth = 440);

    // Column fractions (summing to 1) for a table measured against a 440-point page.
    static QList<double> tableColumnFractions(const QList<QStringList>& rows, int columns, double baseFontSize);
};

} // namespace qv
