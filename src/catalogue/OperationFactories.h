#pragma once

#include "model/operations/FileOperation.h"
#include "model/operations/OperationContext.h"
#include "model/operations/OperationDescriptor.h"

#include <functional>
#include <memory>

namespace qv {

// The body of an operation: runs with the context it was made for and the work item's files.
using OperationBody = std::function<QList<QUrl>(const OperationContext&, const QList<QUrl>&,
                                                OutputPlanner&, Progress&)>;
// A body that works on the first file of its item.
using SingleOutputBody =
    std::function<QUrl(const QUrl&, const OperationContext&, OutputPlanner&, Progress&)>;
using NoOutputBody =
    std::function<void(const QUrl&, const OperationContext&, OutputPlanner&, Progress&)>;

// The make of a conversion: keeps a copy of the context and runs the closure with it. Making
// does no work.
std::shared_ptr<FileOperation> makeConversionOperation(const OperationContext& context,
                                                       OperationBody run);

// The make of a tool: the same with the tool's fixed body.
std::shared_ptr<FileOperation> makeBlockOperation(const OperationContext& context,
                                                  const OperationBody& body);

// A descriptor's factory around a body.
OperationDescriptor::Factory conversionFactory(OperationBody run);
OperationDescriptor::Factory blockFactory(OperationBody body);

// For bodies that only write notes: nothing to do for no files, else the first file; never
// any result.
OperationBody noOutputAdapter(NoOutputBody body);

// For bodies that make one file from the first file: no result and no call for no files.
OperationBody singleOutputAdapter(SingleOutputBody body);

} // namespace qv
