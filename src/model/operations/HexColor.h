#pragma once

#include <QColor>
#include <QString>

#include <optional>

namespace qv {

// "#4C6EF5", the accent colour when none is set or the set one cannot be read.
QString defaultAccentHex();

// Six hexadecimal digits of RGB, optionally after "#", spaces and tabs around allowed.
std::optional<QColor> colorFromHex(const QString& text);

// "#RRGGBB" in upper case; "#4C6EF5" for an invalid colour.
QString hexString(const QColor& color);

} // namespace qv
