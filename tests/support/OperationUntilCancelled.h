#pragma once

#include "model/errors/CancellationError.h"
#include "model/operations/FileOperation.h"
#include "model/operations/OperationContext.h"
#include "model/operations/OperationDescriptor.h"
#include "model/operations/Progress.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace qv::test {

// "Waiting" for documents: each item runs until its job is cancelled, with `done` of 100 units
// of progress; started turns true once one runs.
inline OperationDescriptor operationUntilCancelled(std::atomic<bool>& started, qint64 done = 0)
{
    OperationDescriptor op;
    op.id = QStringLiteral("tool.document.wait");
    op.verb = QStringLiteral("Waiting");
    op.categories = {FileCategory::document};
    op.make = [&started, done](const OperationContext& ctx) -> std::shared_ptr<FileOperation> {
        return std::make_shared<BlockOperation>(
            [&started, done, stop = ctx.stopToken](const QList<QUrl>&, OutputPlanner&, Progress& progress) -> QList<QUrl> {
                progress.setTotalUnitCount(100);
                progress.setCompletedUnitCount(done);
                started = true;
                while (!stop.stop_requested())
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                throw CancellationError();
            });
    };
    return op;
}

} // namespace qv::test
