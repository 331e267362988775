#pragma once

#include "documents/model/DocBlock.h"

#include <QJsonObject>
#include <QUrl>

namespace qv {

// The neutral form every document conversion passes through.
struct DocumentModel {
    struct Chapter {
        std::optional<QString> title;
        QList<DocBlock> blocks;
    };

    std::optional<QString> title;
    QList<DocBlock> blocks;

    // Blocks joined by one blank line; images, rules and page breaks give nothing.
    QString plainText() const;

    // Cut at headings of level splitLevel or above; page breaks are dropped.
    QList<Chapter> chapters(int splitLevel) const;

    // {"title", "blocks"}, image bytes given by their length only.
    QJsonObject toJson() const;
};

// Creates parent/name-UUID (and a missing parent); throws SystemError when it cannot.
QUrl makeUniqueTempDirectory(const QUrl& parent, const QString& name);

} // namespace qv
