#pragma once

#include "engines/media/MediaTargets.h"
#include "model/OperationDescriptor.h"

#include <QList>

namespace qv {

// The audio category's conversions, in wheel order.
const QList<OperationDescriptor>& audioDescriptors();

OperationDescriptor makeAudioConversion(AudioTarget target);

} // namespace qv
