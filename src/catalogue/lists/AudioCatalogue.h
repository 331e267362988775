#pragma once

#include "engines/media/arguments/MediaTargets.h"
#include "model/operations/OperationDescriptor.h"

#include <QList>

namespace qv {

// The audio category's conversions, then its tools, in wheel order.
const QList<OperationDescriptor>& audioDescriptors();

// A conversion to the audio target of files of the category: sound files, or a video's sound.
OperationDescriptor makeAudioConversion(AudioTarget target, FileCategory from = FileCategory::audio);

} // namespace qv
