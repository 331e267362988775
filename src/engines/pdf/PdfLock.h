#pragma once

#include <QString>

#include <optional>

namespace qv {

// Whether the PDF at the path needs a password to be read; absent when it does not open.
std::optional<bool> pdfNeedsPassword(const QString& path);

} // namespace qv
