#pragma once

#include "jobs/JobCenter.h"

#include <stop_token>

namespace qv {

// What a work item of images may need in memory while it runs: the largest of its pictures,
// decoded and being encoded, told from the files' headers. 0 for items of other files, and
// for pictures whose header does not read (they fail soon enough on their own).
qint64 itemMemoryNeed(const JobCenter::WorkItem& item, std::stop_token stop);

// The need of one picture of that size and band count.
qint64 pictureMemoryNeed(qint64 width, qint64 height, int bands);

} // namespace qv
