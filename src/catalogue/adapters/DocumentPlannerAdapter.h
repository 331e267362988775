#pragma once

#include "documents/DocumentPlanner.h"

namespace qv {

class OutputPlanner;

// The work item's planner as the document tools use it; the planner must outlive the result.
DocumentPlanner documentPlanner(const OutputPlanner& planner);

} // namespace qv
