#pragma once

#include <QByteArrayView>
#include <QString>

namespace qv {

// Whether a JPEG file holds together from its first marker to its end: markers, segment
// lengths, frame and scan headers and all of its entropy-coded data up to EOI, parsed by libjpeg
// as a decode parses it but drawn at an eighth of the size, with every warning it gives about
// damage counted. It costs the parsing of the coded data, not the pixels, and it finds what a
// full decode finds (and damage in the last rows or before the end marker, which a decode that
// stops at the last pixel passes over). Safe on any thread.
class JpegStructure {
public:
    JpegStructure() = delete;

    // Throws EngineError "This file is damaged or not in a supported format" naming what
    // libjpeg found.
    static void check(const QString& path);

    // The same, as a verdict with libjpeg's message; empty when the file holds together.
    static QString fault(const QString& path);

    // The same for a JPEG held in memory (a PDF's picture).
    static QString faultOfBytes(QByteArrayView jpeg);
};

} // namespace qv
