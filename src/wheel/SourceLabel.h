#pragma once

#include "model/files/FileInfo.h"
#include "wheel/SelectionSummary.h"

namespace qv {

// The short text naming a selection in the wheel's centre: "FOLDER", a format's label, an
// upper-cased extension, "FILE", "<n> FILES" for one category, "MIXED"; empty for no files.
QString sourceLabel(const QList<FileInfo>& files);
QString sourceLabelFor(const SelectionSummary& selection);

} // namespace qv
