#pragma once

#include "model/operations/OperationDescriptor.h"

#include <QString>

#include <optional>

namespace qv {

class WorkerPool;

// The worker processes that run the catalogue's operations, shared by every job of the process.
WorkerPool& catalogueWorkers();

// The catalogue's operation with that identifier: what a worker runs for a request.
std::optional<OperationDescriptor> catalogueOperation(const QString& id);

} // namespace qv
