#pragma once

#include "engines/media/operations/MediaConversion.h"

namespace qv {

class OutputPlanner;

// The work item's planner as the media engine uses it: work files named by a new UUID,
// results placed under the source's base name.
MediaWork mediaWork(const OutputPlanner& planner, Progress& progress);

} // namespace qv
