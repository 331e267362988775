#pragma once

#include <QLoggingCategory>

namespace qv {

Q_DECLARE_LOGGING_CATEGORY(appLog)
Q_DECLARE_LOGGING_CATEGORY(dragLog)
Q_DECLARE_LOGGING_CATEGORY(wheelLog)
Q_DECLARE_LOGGING_CATEGORY(jobsLog)
Q_DECLARE_LOGGING_CATEGORY(enginesLog)

} // namespace qv
