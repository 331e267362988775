#pragma once

#include "jobs/JobCenter.h"
#include "model/settings/SettingsSnapshot.h"

#include <stop_token>

namespace qv {

// What a work item of images may need in memory while it runs: the largest of its pictures,
// decoded and being encoded, told from the files' headers. 0 for items of other files, and
// for pictures whose header does not read (they fail soon enough on their own).
qint64 itemMemoryNeed(const JobCenter::WorkItem& item, std::stop_token stop);

// The need of one picture of that size and band count, for writers other than WebP's.
qint64 pictureMemoryNeed(qint64 width, qint64 height, int bands);

// The need of one picture written as WebP from the file at path, in low-memory mode when
// mayChooseLowMemory and the settings' budget and lanes make it pay.
qint64 webpMemoryNeed(qint64 width, qint64 height, bool alpha, const QString& path, bool mayChooseLowMemory,
                      const SettingsSnapshot& settings);

} // namespace qv
