#pragma once

#include <QByteArray>
#include <QList>

namespace qv {

// A PDF whose painter re-encoded its pictures gets the pictures' own bytes back: an image that
// shows the same pixels as one of the given JPEGs or PNGs (same size and components, a close
// likeness) is replaced by the JPEG, or by the PNG's lossless rows when they take no more room
// than the painter's copy; copies of one picture, and identical image streams, share one object;
// the painter's own JPEGs are written again from their coefficients, smaller, the same pixels.
// The page boxes of a rewritten file read "[ 0 0 w h ]".
class PdfOriginalImages {
public:
    PdfOriginalImages() = delete;

    // The PDF unchanged when no image matches or anything in it cannot be read.
    static QByteArray restorePictures(const QByteArray& pdf, const QList<QByteArray>& pictures);

    // The components (1 grey, 3 colour, 4 CMYK) and size a JPEG's frame header states; 0 when
    // it has none.
    static int jpegComponents(const QByteArray& jpeg, int* width = nullptr, int* height = nullptr);
};

} // namespace qv
