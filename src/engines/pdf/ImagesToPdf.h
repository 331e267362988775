#pragma once

#include "engines/image/DecodedImage.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <stop_token>

namespace qv {

class Progress;

// Image files into one PDF, one page per image, each page the physical size of its image.
// JPEGs that need no turn go in as their own bytes (CMYK ones too); other opaque images as
// JPEG at 0.92; images with alpha losslessly with a soft mask. Every picture asks readers to
// smooth it when scaled. Pages are made one at a time.
class ImagesToPdf {
public:
    ImagesToPdf() = delete;

    // One page's picture as it goes into the document.
    struct PageImage {
        enum class Encoding { jpeg, flate };
        Encoding encoding = Encoding::jpeg;
        QByteArray data;          // the encoded stream; empty when sourceFile is read instead
        QString sourceFile;       // a JPEG passed through: read when the document is written
        int width = 0;
        int height = 0;
        int components = 3;       // 1 grey, 3 RGB, 4 CMYK (a passed-through JPEG only)
        bool invertedCmyk = false; // CMYK stored inverted, as Adobe's marker says
        QByteArray colourProfile; // ICC profile of a passed-through JPEG; the device space when empty
        QByteArray alpha;         // Flate-coded 8-bit soft mask; empty when opaque
    };

    // Writes the document at destination (a new file). Throws EngineError ("Couldn't create
    // the PDF", the decoder's "This file is damaged or not in a supported format"),
    // CancellationError; nothing is left at destination on failure. Progress rises page by page.
    static void makePDF(const QStringList& imageFiles, const QString& destination,
                        Progress* progress = nullptr, std::stop_token stop = {});

    // The picture for the file's page, from its decoded image.
    static PageImage pdfPageImage(const QString& file, const DecodedImage& decoded,
                                  std::stop_token stop = {});

    // Whether a JPEG carries Adobe's APP14 marker before its scan: its CMYK is then stored
    // inverted. False for a file that cannot be read or is no JPEG.
    static bool hasAdobeMarker(const QString& jpegFile);

    // Page size in points: pixels x 72 / dpi, dpi at least 72.
    static double pagePoints(int pixels, double dpi);
};

} // namespace qv
