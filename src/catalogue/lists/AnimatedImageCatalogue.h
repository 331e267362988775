#pragma once

#include "model/operations/OperationContext.h"
#include "model/operations/OperationDescriptor.h"

#include <QList>
#include <QUrl>

namespace qv {

class OutputPlanner;
class Progress;

// The image conversions that make videos of animations: "convert.image.mp4" and
// "convert.image.webm", offered only for images of more than one frame.
QList<OperationDescriptor> animatedImageVideoConversions();

// True when the WebP conversion of this file keeps its animation by the video road: a GIF of
// two or more frames.
bool takesAnimatedWebPRoad(const FileInfo& file);

// That road: the GIF as an animated WebP written by FFmpeg, placed beside the source.
QUrl convertAnimatedGIFToWebP(const FileInfo& file, const OperationContext& context,
                              OutputPlanner& planner, Progress& progress);

} // namespace qv
