#pragma once

#include <QString>

namespace qv {

// The media editor's time text: "m:ss" below an hour, "h:mm:ss" from an hour, every digit
// truncated, with ".t" (tenths) when asked. Negative and non-finite values read 0:00; values
// past 10^9 seconds (a damaged file's duration) read as 10^9.
QString timeLabel(double seconds, bool tenths = false);

} // namespace qv
