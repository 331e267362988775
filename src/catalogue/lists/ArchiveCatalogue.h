#pragma once

#include "catalogue/archives/ArchiveTarget.h"
#include "model/operations/OperationDescriptor.h"

namespace qv {

// Re-packing as ZIP, TAR or TAR.GZ, then Extract, Test and To ZIP.
const QList<OperationDescriptor>& archiveDescriptors();
// ZIP (any selection, one archive) and Flatten.
const QList<OperationDescriptor>& folderDescriptors();

OperationDescriptor makeArchiveConversion(ArchiveTarget target);

// The file's format (its extension when it has none) is one the archive probe can read.
bool isReadableArchive(const FileInfo& file);

} // namespace qv
