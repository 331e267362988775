#pragma once

#include "catalogue/FractionHandler.h"

#include <QString>

#include <stop_token>

namespace qv {

// Decompresses every member of a gzip file and checks its CRC and length, which libarchive's
// gzip reader skips. Throws ArchiveReadError for damage, SystemError when the file cannot be
// read, CancellationError when stopped.
void verifyGzipFile(const QString& path, std::stop_token stop, const FractionHandler& onFraction = {});

} // namespace qv
