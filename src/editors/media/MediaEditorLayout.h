#pragma once

#include <QSize>
#include <QSizeF>

#include <optional>

namespace qv {

// The media editor's geometry from the picture's size in pixels (none without a picture).
struct MediaEditorLayout {
    std::optional<QSize> pictureSize; // shown, at most 720 x 440
    int width = 560;                  // the content column
    int thumbnailCount = 0;           // filmstrip slots, 4 to 40; 0 without a picture

    static MediaEditorLayout forPicture(std::optional<QSizeF> videoSize);
};

} // namespace qv
