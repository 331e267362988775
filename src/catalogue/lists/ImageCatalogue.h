#pragma once

#include "catalogue/OperationFactories.h"
#include "engines/image/foreign/ImageOutput.h"
#include "engines/image/ImageWork.h"
#include "model/operations/OperationDescriptor.h"

#include <QList>

namespace qv {

class OutputPlanner;
class Progress;

// The image category's conversions and tools, in wheel order.
const QList<OperationDescriptor>& imageDescriptors();
const QList<OperationDescriptor>& imageConversions();
const QList<OperationDescriptor>& imageTools();

// A conversion row: "convert.image.<ext>".
OperationDescriptor makeImageConversion(ImageOutput target);

// The body of every conversion row: PDF through the images-to-PDF writer, every other target
// through the image engine; the result is placed under the source's base name.
QUrl runImageConversion(const FileInfo& file, ImageOutput target, const OperationContext& context,
                        OutputPlanner& planner, Progress& progress);

// "To PDF": every file of the item, in order, as the pages of one PDF named after the first,
// with the merge suffix when there are two or more.
QUrl imagesToPDF(const QList<QUrl>& files, const OperationContext& context, OutputPlanner& planner,
                 Progress& progress);

// The planner as the image engine uses it, with the job's stop request.
ImageWork imageWork(const OutputPlanner& planner, Progress& progress, std::stop_token stop);

} // namespace qv
