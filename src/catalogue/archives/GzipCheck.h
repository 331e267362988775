#pragma once

#include "catalogue/tools/FractionHandler.h"

#include <QString>

#include <cstddef>
#include <functional>
#include <stop_token>

namespace qv {

// Receives each decompressed block in order.
using GzipSink = std::function<void(const char* data, std::size_t size)>;

// Decompresses every member of a gzip file and checks its CRC and length, which libarchive's
// gzip reader skips, handing the data to sink when one is given. Zeros after a member are
// padding; anything else there is damage. Throws ArchiveReadError for
// damage, SystemError when the file cannot be read, CancellationError when stopped; what the
// sink throws is passed on.
void inflateGzipFile(const QString& path, std::stop_token stop, const GzipSink& sink,
                     const FractionHandler& onFraction = {});

// inflateGzipFile without a sink.
void verifyGzipFile(const QString& path, std::stop_token stop, const FractionHandler& onFraction = {});

// Whether the file begins as gzip data does.
bool startsAsGzip(const QString& path);

} // namespace qv
