#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>
#include <QStringList>

namespace qv::test {

// A PNG of the size whose left half is opaque red and right half transparent, at the dpi.
QString writeHalfTransparentPng(const QString& path, int width = 400, int height = 300, int dpi = 300);

// An opaque gradient as a JPEG or PNG (by extension) at the dpi, written by Qt.
QString writeOpaqueImage(const QString& path, int width, int height, int dpi = 72);

// Pictures made by the Debian tools, for the colour models and damage Qt does not write; each
// gives the path, or an empty text when the tool failed.
// A flat grey PNG, one 8-bit band (vips).
QString writeGreyPng(const QString& path, int width, int height, int level);
// A flat CMYK JPEG of the colour, no profile, inverted as Adobe writes it (ImageMagick).
QString writeCmykJpeg(const QString& path, int width, int height, const QColor& colour);
// A noisy opaque picture in the format of the extension (vips), so damage lands in coded data.
QString writeNoisyImage(const QString& path, int width = 600, int height = 400);
// A copy of source cut to its first half.
QString writeCutCopy(const QString& source, const QString& path);
// A copy of source with bytes at the fraction of its length inverted.
QString writeScrambledCopy(const QString& source, const QString& path, double at = 0.5, int count = 400);
// A WebP whose header reads but whose VP8 picture data does not decode.
QString writeUndecodableWebp(const QString& path);

// Runs a program and returns its standard output; empty when it fails.
QByteArray programOutput(const QString& program, const QStringList& arguments);

// vipsheader -f field of the file, trimmed.
QString vipsField(const QString& path, const QString& field);

// exiv2's print of every tag ("exiv2 -pa"), or the XMP print for "-px".
QByteArray exivTags(const QString& path, const QString& mode = QStringLiteral("-pa"));

} // namespace qv::test
