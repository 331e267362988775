#include "catalogue/adapters/MediaWorkAdapter.h"

#include "jobs/OutputPlanner.h"
#include "model/files/FileInfo.h"

#include <QUuid>

namespace qv {

MediaWork mediaWork(const OutputPlanner& planner, Progress& progress)
{
    MediaWork work;
    work.progress = &progress;
    work.workFile = [&planner](const QString& extension) {
        return planner.workURL(extension, QUuid::createUuid().toString(QUuid::WithoutBraces));
    };
    work.workFolder = [&planner](const QString& name) { return planner.makeWorkSubdirectory(name); };
    work.place = [&planner](const QUrl& file, const QString& extension) {
        return planner.deliver(file, splitFileName(planner.source().fileName()).baseName, extension);
    };
    work.baseName = splitFileName(planner.source().fileName()).baseName;
    work.placeNamed = [&planner](const QUrl& file, const QString& baseName, const QString& extension) {
        return planner.deliver(file, baseName, extension);
    };
    return work;
}

} // namespace qv
