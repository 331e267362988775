#include "wheel/SourceLabel.h"

namespace qv {

QString sourceLabel(const QList<FileInfo>& files)
{
    if (files.isEmpty())
        return QString();
    if (files.size() == 1) {
        const FileInfo& file = files.first();
        if (file.isDirectory)
            return QStringLiteral("FOLDER");
        // Camera-raw formats share one row; the extension says more than "RAW".
        if (file.format && file.format->id != QLatin1String("raw"))
            return file.format->label;
        return file.ext.isEmpty() ? QStringLiteral("FILE") : file.ext.toUpper();
    }
    const FileCategory first = files.first().category;
    for (const FileInfo& file : files) {
        if (file.category != first)
            return QStringLiteral("MIXED");
    }
    return QString::number(files.size()) + QStringLiteral(" FILES");
}

} // namespace qv
