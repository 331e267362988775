#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>

#include <optional>

namespace qv {

// A picture ready to go into a DOCX or EPUB package.
struct PackageImage {
    QByteArray bytes;
    // "png", "jpeg" or "gif": what the bytes are, whatever their file name said.
    QString ext;
    QSize pixelSize;
    std::optional<double> dpi;

    // PNG, JPEG and GIF bytes are kept as they are; any other picture is decoded and encoded
    // again as PNG. None when the bytes do not decode as a picture.
    static std::optional<PackageImage> fromBytes(const QByteArray& bytes);
};

} // namespace qv
