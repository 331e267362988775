#pragma once

#include "engines/image/DecodedImage.h"
#include "engines/image/foreign/ImageOutput.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <stop_token>

namespace qv {

// Our own ICO and ICNS writers: every size of the list as a PNG element, from the image
// centred on a transparent square.
class IconFileWriter {
public:
    IconFileWriter() = delete;

    // ICO 16, 24, 32, 48, 64, 256; ICNS 16 to 1024 (icp4, icp5, icp6, ic07, ic08, ic09, ic10).
    static const QList<int>& iconSizes(ImageOutput output);

    // Writes the icon file at path (a new file). Throws EngineError "Couldn't write the <EXT>
    // file" (nothing left behind), "Not enough memory for this image", CancellationError.
    static void writeIconFile(const DecodedImage& image, const QString& path, ImageOutput output,
                              std::stop_token stop = {});

    // The containers around PNG images given in the order of iconSizes.
    static QByteArray icoContainer(const QList<int>& sizes, const QList<QByteArray>& pngs);
    static QByteArray icnsContainer(const QList<int>& sizes, const QList<QByteArray>& pngs);
};

} // namespace qv
