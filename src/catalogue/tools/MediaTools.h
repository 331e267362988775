#pragma once

#include "engines/media/probe/MediaInfo.h"
#include "model/operations/OperationDescriptor.h"
#include "model/operations/OperationOptions.h"

#include <QList>

namespace qv {

// The Tools wheel's entries for videos and for sound files, in wheel order.
const QList<OperationDescriptor>& videoTools();
const QList<OperationDescriptor>& audioTools();

// The fade tool's filter for a probed file: in over fadeIn (2 s), out over the last fadeOut
// (3 s); in only when the length is not known.
QStringList fadeFilters(const MediaInfo& info, const OperationOptions& options);

// "<rate / 1000> kHz", whole numbers.
QString sampleRateSuffix(int sampleRate);

} // namespace qv
