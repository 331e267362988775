#pragma once

#include "model/files/FileCategory.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace qv {

// One row of the format catalogue.
struct FileFormat {
    QString id;             // "jpg", "tar.gz"
    QString label;          // "JPG", "CLIPPING"
    FileCategory category = FileCategory::other;
    QStringList extensions; // lower case, no dot; the first is canonical
    QString uti;            // the type identifier the format is known by elsewhere
    QString mimeType;       // its freedesktop MIME type

    bool operator==(const FileFormat&) const = default;
};

// The 85 known formats, in catalogue order; built once, shared read-only.
const QList<FileFormat>& formatCatalogue();

// Every extension of every format; the first row keeps an extension listed twice.
const QHash<QString, FileFormat>& formatsByExtension();

std::optional<FileFormat> formatForExtension(const QString& ext);

// The row whose type identifier or MIME type is exactly the given text.
std::optional<FileFormat> formatForType(const QString& type);

} // namespace qv
