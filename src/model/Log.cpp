#include "model/Log.h"

namespace qv {

Q_LOGGING_CATEGORY(appLog, "quorvenda.app")
Q_LOGGING_CATEGORY(dragLog, "quorvenda.drag")
Q_LOGGING_CATEGORY(wheelLog, "quorvenda.wheel")
Q_LOGGING_CATEGORY(jobsLog, "quorvenda.jobs")
Q_LOGGING_CATEGORY(enginesLog, "quorvenda.engines")

} // namespace qv
