#pragma once

#include <QByteArray>
#include <QSize>

#include <optional>

namespace qv {

// What a package writer needs to place a picture given as bytes: its pixel size and its
// horizontal resolution, from the header alone.
struct ImageBytesInfo {
    QSize pixelSize;
    // Dots per inch; absent when the file does not say.
    std::optional<double> dpi;
};

// None when the bytes do not open as an image. Any thread.
std::optional<ImageBytesInfo> imageBytesInfo(const QByteArray& bytes);

} // namespace qv
