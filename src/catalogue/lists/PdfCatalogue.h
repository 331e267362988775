#pragma once

#include "model/operations/OperationDescriptor.h"

namespace qv {

// The PDF list: its conversions, then its tools, in wheel order.
const QList<OperationDescriptor>& pdfDescriptors();
const QList<OperationDescriptor>& pdfConversions();
const QList<OperationDescriptor>& pdfTools();

} // namespace qv
