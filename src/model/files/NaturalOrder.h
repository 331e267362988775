#pragma once

#include <QString>

namespace qv {

// Compares names the way file managers sort them: runs of digits by their value ("file2"
// before "file10"), the rest by the locale's collation, ignoring case. Works in every locale,
// including C, where the collator alone has no numeric mode.
int naturalCompare(const QString& a, const QString& b);

} // namespace qv
