#pragma once

#include "engines/media/arguments/MediaTargets.h"
#include "model/operations/OperationDescriptor.h"

#include <QList>

namespace qv {

// The video category's conversions, then its tools, in wheel order.
const QList<OperationDescriptor>& videoDescriptors();

OperationDescriptor makeVideoConversion(VideoTarget target);

} // namespace qv
