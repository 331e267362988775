#include "catalogue/adapters/DocumentPlannerAdapter.h"

#include "jobs/OutputPlanner.h"

namespace qv {

DocumentPlanner documentPlanner(const OutputPlanner& planner)
{
    DocumentPlanner adapted;
    adapted.source = [&planner] { return planner.source(); };
    adapted.workDirectory = [&planner] { return planner.workDirectory(); };
    adapted.workURL = [&planner](const QString& extension, const QString& name) { return planner.workURL(extension, name); };
    adapted.makeWorkSubdirectory = [&planner](const QString& name) { return planner.makeWorkSubdirectory(name); };
    adapted.outputBaseName = [&planner](const std::optional<QString>& suffix) { return planner.outputBaseName(suffix); };
    adapted.deliver = [&planner](const QUrl& file, const QString& baseName, const QString& extension) {
        return planner.deliver(file, baseName, extension);
    };
    return adapted;
}

} // namespace qv
