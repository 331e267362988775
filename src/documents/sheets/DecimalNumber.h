#pragma once

#include <QStringView>

#include <optional>

namespace qv {

// The whole text as a floating-point number: an optional sign, digits with an optional point
// and exponent, or "inf", "infinity" and "nan" in any case. Spaces anywhere make it no number.
std::optional<double> parseDecimalNumber(QStringView text);

} // namespace qv
