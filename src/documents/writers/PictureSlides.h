#pragma once

#include <QRectF>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <QStringList>

#include <stop_token>

namespace qv {

// A presentation of one picture per slide, written as a PresentationML package (PPTX) that
// PowerPoint, LibreOffice Impress and python-pptx open: every slide of one size, each picture
// as large as fits it, centred, its shape kept.
class PictureSlides {
public:
    PictureSlides() = delete;

    // pictures are PNG or JPEG files, one slide each in order; slideSize in points. The package
    // is made new at destination (never replacing a file) and is left nowhere on failure.
    // Throws EngineError "Couldn't read the page pictures" for a picture that is not one,
    // SystemError and CancellationError.
    static void imagesToSlides(QSizeF slideSize, const QStringList& pictures, const QString& destination,
                               std::stop_token stop = {});

    // The slide size for pages the size of this one (in points, as it shows): its longer side
    // made 1920 points, the shorter never below the smallest slide PowerPoint takes (one inch).
    static QSizeF slideSizeFor(QSizeF page);

    // Where a picture of these pixels goes on a slide: as large as fits, centred.
    static QRectF pictureFrame(QSize pixels, QSizeF slide);

    static constexpr double longerSide = 1920.0;
    static constexpr double shortestSide = 72.0;
};

} // namespace qv
