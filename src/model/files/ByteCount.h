#pragma once

#include <QString>

namespace qv {

// A byte count as file managers write it, in decimal units: "Zero KB", "1 byte", "999 bytes",
// "12 KB", "3.5 MB", "2.35 GB"; whole KB, MB to one decimal, GB and TB to two, trailing zeros
// dropped, with the decimal separator of the default locale.
QString formatByteCount(qint64 bytes);

} // namespace qv
