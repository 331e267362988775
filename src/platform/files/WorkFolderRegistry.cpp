#include "platform/files/WorkFolderRegistry.h"

#include "platform/sandbox/WorkerTrail.h"

#include <QDir>
#include <QHash>
#include <mutex>

namespace qv {

namespace {

struct Registry {
    std::mutex lock;
    QHash<QString, int> counts;
};

// Never destroyed: folders are released from other statics' destructors at exit.
Registry& registry()
{
    static Registry* const instance = new Registry;
    return *instance;
}

} // namespace

void WorkFolderRegistry::add(const QString& path)
{
    {
        Registry& r = registry();
        std::lock_guard locker(r.lock);
        ++r.counts[QDir::cleanPath(path)];
    }
    WorkerTrail::record(WorkerTrail::Kind::work, QDir::cleanPath(path));
}

void WorkFolderRegistry::remove(const QString& path)
{
    Registry& r = registry();
    std::lock_guard locker(r.lock);
    const auto it = r.counts.find(QDir::cleanPath(path));
    if (it == r.counts.end())
        return;
    if (--it.value() <= 0)
        r.counts.erase(it);
}

bool WorkFolderRegistry::contains(const QString& path)
{
    Registry& r = registry();
    std::lock_guard locker(r.lock);
    return r.counts.contains(QDir::cleanPath(path));
}

QStringList WorkFolderRegistry::paths()
{
    Registry& r = registry();
    std::lock_guard locker(r.lock);
    return r.counts.keys();
}

} // namespace qv
