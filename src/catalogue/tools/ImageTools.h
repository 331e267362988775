#pragma once

#include "model/operations/OperationContext.h"
#include "model/operations/OperationDescriptor.h"

#include <QList>
#include <QUrl>

namespace qv {

class OutputPlanner;
class Progress;

// The image Tools wheel's own rows, each built by its function, and the bodies composed here.
OperationDescriptor imageCompressTool();
OperationDescriptor imageResizeTool();
OperationDescriptor imageCropTool();
OperationDescriptor imageRotateTool();
OperationDescriptor imageRemoveBackgroundTool();
OperationDescriptor imageRemoveMetadataTool();
OperationDescriptor imageEditTool();
OperationDescriptor imageFlipTool();
OperationDescriptor imageAddBackgroundTool();
OperationDescriptor imageMergeTool();
OperationDescriptor imageAnnotateTool();

// The format ids Compress is offered for.
const QSet<QString>& compressibleImageFormats();

// The crop editor's rectangle cut out of the picture, in its own format.
QUrl cropImageFile(const FileInfo& file, const OperationContext& context, OutputPlanner& planner,
                   Progress& progress);
// A quarter turn (the option rotation, else 90), with the options' flips.
QUrl rotateImageFile(const FileInfo& file, const OperationContext& context, OutputPlanner& planner,
                     Progress& progress);
// A mirror: vertical when the option flipVertical is set, else horizontal.
QUrl flipImageFile(const FileInfo& file, const OperationContext& context, OutputPlanner& planner,
                   Progress& progress);
// The subjects on transparency, as PNG.
QUrl removeImageBackground(const FileInfo& file, const OperationContext& context, OutputPlanner& planner,
                           Progress& progress);
// The subjects on the option backgroundColor (a colour or "blur"), white when unset.
QUrl addImageBackground(const FileInfo& file, const OperationContext& context, OutputPlanner& planner,
                        Progress& progress);
// Every file of the item joined in order, side by side unless the layout says stacked.
QUrl mergeImages(const QList<FileInfo>& files, const OperationContext& context, OutputPlanner& planner,
                 Progress& progress);

} // namespace qv
