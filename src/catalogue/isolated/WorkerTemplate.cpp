#include "catalogue/isolated/WorkerTemplate.h"

#include "catalogue/isolated/WorkerMain.h"

#include "jobs/WorkerPool.h"

#include "platform/files/NameWatch.h"
#include "platform/processes/ProcessTemplate.h"

#include <QFileInfo>

namespace qv {

bool WorkerTemplate::forkAtStart(int argc, char** argv)
{
    const QString named = qEnvironmentVariable("QUORVENDA_WORKER");
    if (!named.isEmpty() && QFileInfo(named).fileName() != QLatin1String("quorvenda-worker"))
        return false;
    const int names = NameWatch::sharedFd();
    return ProcessTemplate::fork(WorkerPool::defaultProgram(), &workerMain, argc, argv,
                                 names >= 0 ? QList<int>{names} : QList<int>{});
}

} // namespace qv
