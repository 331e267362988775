#include "documents/sheets/DecimalNumber.h"

#include <charconv>
#include <cstdlib>

namespace qv {

std::optional<double> parseDecimalNumber(QStringView text)
{
    // Numbers are short; anything longer is no number we could print back anyway.
    if (text.isEmpty() || text.size() > 400)
        return std::nullopt;
    char buffer[402];
    qsizetype length = 0;
    qsizetype start = 0;
    if (text.front() == QLatin1Char('+'))
        start = 1; // from_chars takes only "-"
    for (qsizetype i = start; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (unit >= 0x80)
            return std::nullopt;
        buffer[length++] = static_cast<char>(unit);
    }
    if (length == 0 || (start == 1 && buffer[0] == '-'))
        return std::nullopt;
    double value = 0;
    const auto [end, error] =
        std::from_chars(buffer, buffer + length, value, std::chars_format::general);
    // Out of range still names a number: it is infinite or zero.
    if (end != buffer + length || (error != std::errc() && error != std::errc::result_out_of_range))
        return std::nullopt;
    if (error == std::errc::result_out_of_range) {
        buffer[length] = '\0';
        value = std::strtod(buffer, nullptr); // from_chars leaves the value unset: take ±inf or 0
    }
    return value;
}

} // namespace qv
