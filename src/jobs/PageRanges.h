#pragma once

#include "model/operations/PageRange.h"

#include <QList>
#include <QString>

#include <limits>
#include <optional>

namespace qv {

// The upper bound of a range typed with nothing after its dash ("3-"): to the last page.
inline constexpr int openPageEnd = std::numeric_limits<int>::max();

// Typed page ranges such as "1-3, 4-6, 7", in typed order; pieces that do not read are left
// out, so text without a valid piece gives an empty list. A reversed range "5-3" means 3...5.
QList<PageRange> parsePageRanges(const QString& text);

// One piece: "7", "2-4", "3-" or "5-3"; none when it does not read as pages from 1 on.
std::optional<PageRange> parsePageRange(const QString& piece);

} // namespace qv
