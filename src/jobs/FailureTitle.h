#pragma once

#include <QString>

namespace qv {

// The first line of everything that reports a failed job (pill, details window, notification):
// "Couldn't " and what the job set out to do, its running title turned to the verb's base form
// ("Converting to PNG" gives "Couldn't convert to PNG"). A title whose verb is not known keeps
// its wording after "Couldn't finish ", which reads right for any "-ing" phrase.
QString failureTitle(const QString& jobTitle);

} // namespace qv
