#include "catalogue/isolated/CatalogueWorkers.h"

#include "catalogue/ToolRegistry.h"
#include "jobs/WorkerPool.h"

#include <QCoreApplication>
#include <QHash>

namespace qv {

std::optional<OperationDescriptor> catalogueOperation(const QString& id)
{
    static const QHash<QString, OperationDescriptor> byId = [] {
        QHash<QString, OperationDescriptor> table;
        for (const OperationDescriptor& descriptor : ToolRegistry::shared().catalogue())
            table.insert(descriptor.id, descriptor);
        return table;
    }();
    const auto it = byId.constFind(id);
    if (it == byId.constEnd())
        return std::nullopt;
    return *it;
}

WorkerPool& catalogueWorkers()
{
    // Never destroyed: items may still be ending while statics go. Its starting of workers ends
    // with the application object, before the statics a start uses go.
    static auto* pool = [] {
        auto* made = new WorkerPool(WorkerPool::defaultProgram(), [](const QString& id) {
            return catalogueOperation(id).has_value();
        });
        // The picture tools all start libvips, half of a small item's time in a warm worker: a
        // worker that will likely run one opens it while it waits. Told by the name, as the
        // driver's first worker is started before the catalogue is built.
        made->setLoadAhead([](const QString& id) {
            return id.startsWith(QLatin1String("convert.image.")) || id.startsWith(QLatin1String("tool.image."))
                ? QByteArrayLiteral("vips")
                : QByteArray();
        });
        qAddPostRoutine([] { catalogueWorkers().shutdown(); });
        return made;
    }();
    return *pool;
}

} // namespace qv
