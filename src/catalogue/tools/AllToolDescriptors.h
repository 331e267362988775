#pragma once

#include "model/operations/OperationDescriptor.h"

namespace qv {

// Every category's list joined in catalogue order, built once; that order breaks every tie
// in the wheels.
const QList<OperationDescriptor>& allToolDescriptors();

} // namespace qv
