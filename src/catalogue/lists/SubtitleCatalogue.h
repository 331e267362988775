#pragma once

#include "documents/subtitles/SubtitleCue.h"
#include "model/operations/OperationDescriptor.h"

#include <QList>

namespace qv {

// The subtitle category's conversions and tools, in wheel order.
const QList<OperationDescriptor>& subtitleDescriptors();

// A conversion to srt, vtt, ass, txt or ssa.
OperationDescriptor makeSubtitleConversion(SubtitleFormat format);

// "+500 ms", "-1200 ms", "+0 ms".
QString shiftLabel(qint64 milliseconds);

} // namespace qv
