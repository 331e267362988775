#pragma once

#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace qv {

// The work item's planner as the document tools use it, filled in by the catalogue: where work
// files go and how results are named and placed.
struct DocumentPlanner {
    std::function<QUrl()> source;
    std::function<QUrl()> workDirectory;
    // A path in the work directory: name.extension, or name alone for an empty extension.
    std::function<QUrl(const QString& extension, const QString& name)> workURL;
    // Creates workDirectory/name; throws SystemError.
    std::function<QUrl(const QString& name)> makeWorkSubdirectory;
    // The source's base name, plus " (suffix)" when the suffix is not empty.
    std::function<QString(const std::optional<QString>& suffix)> outputBaseName;
    // Moves a finished file or folder to its destination under the first free name; returns
    // where it went.
    std::function<QUrl(const QUrl& file, const QString& baseName, const QString& extension)> deliver;
};

} // namespace qv
