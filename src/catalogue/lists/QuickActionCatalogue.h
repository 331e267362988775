#pragma once

#include "model/operations/OperationDescriptor.h"

namespace qv {

// A quick action: offered on the actions wheel for any selection, handed to the quick actions
// instead of running as a job, so it has no factory.
OperationDescriptor makeActionDescriptor(ActionKind kind, const QString& title,
                                         const QString& symbol);

// The eight quick actions in the order of ActionKind; also the actions wheel's default order.
const QList<OperationDescriptor>& quickActionDescriptors();

} // namespace qv
