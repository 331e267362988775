#pragma once

#include "model/files/ArchiveListing.h"

#include <QByteArray>

namespace qv {

// Reads every entry of an archive held in memory, contents included, and keeps nothing.
ArchiveListing listArchiveInMemory(const QByteArray& data);

} // namespace qv
