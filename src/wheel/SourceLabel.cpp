#include "wheel/SourceLabel.h"

#include <algorithm>

namespace qv {

namespace {

QString label(const FileInfo& first, qsizetype count, bool mixed)
{
    if (count == 0)
        return QString();
    if (count == 1) {
        if (first.isDirectory)
            return QStringLiteral("FOLDER");
        // Camera-raw formats share one row; the extension says more than "RAW".
        if (first.format && first.format->id != QLatin1String("raw"))
            return first.format->label;
        return first.ext.isEmpty() ? QStringLiteral("FILE") : first.ext.toUpper();
    }
    if (mixed)
        return QStringLiteral("MIXED");
    return QString::number(count) + QStringLiteral(" FILES");
}

} // namespace

QString sourceLabel(const QList<FileInfo>& files)
{
    if (files.isEmpty())
        return QString();
    const FileCategory first = files.first().category;
    const bool mixed = std::any_of(files.begin(), files.end(),
                                   [first](const FileInfo& file) { return file.category != first; });
    return label(files.first(), files.size(), mixed);
}

QString sourceLabelFor(const SelectionSummary& selection)
{
    return label(selection.first(), selection.count(), selection.isMixed());
}

} // namespace qv
