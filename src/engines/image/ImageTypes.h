#pragma once

#include <QSet>
#include <QString>

namespace qv {

// Ids of the catalogue's image formats that the libvips of this machine can load
// ("jpg", "png", ...); empty when libvips does not start.
QSet<QString> vipsReadableFormatIds();

// Ids of the catalogue's image formats that libvips has a saver for.
QSet<QString> vipsWritableFormatIds();

} // namespace qv
