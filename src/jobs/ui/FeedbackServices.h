#pragma once

#include "jobs/JobCenter.h"

namespace qv {

// Puts the pills, toasts, sounds and notifications in place for the job centre; services
// already set in `services` (the tray icon, say) are kept.
void installFeedbackServices(JobCenter::Services services = {});

} // namespace qv
