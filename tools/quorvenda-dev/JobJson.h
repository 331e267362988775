#pragma once

#include "jobs/Job.h"
#include "jobs/JobCenterServices.h"

#include <QJsonObject>

namespace qv::dev {

// A finished or stopped job as the driver prints it: state, outputs, messages, failure and the
// count of failed items.
QJsonObject jobJson(const JobPtr& job);

} // namespace qv::dev
