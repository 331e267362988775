#pragma once

#include "engines/pdf/PDFWork.h"
#include "model/operations/OperationContext.h"

namespace qv {

class OutputPlanner;

// The work item's planner as the PDF engine uses it: work files named by a new UUID, results
// placed under names the engine makes from the source's base name.
PDFWork pdfWork(const OperationContext& context, const OutputPlanner& planner, Progress& progress);

} // namespace qv
