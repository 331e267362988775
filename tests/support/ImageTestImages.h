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

// Runs a program and returns its standard output; empty when it fails.
QByteArray programOutput(const QString& program, const QStringList& arguments);

// vipsheader -f field of the file, trimmed.
QString vipsField(const QString& path, const QString& field);

// exiv2's print of every tag ("exiv2 -pa"), or the XMP print for "-px".
QByteArray exivTags(const QString& path, const QString& mode = QStringLiteral("-pa"));

} // namespace qv::test
