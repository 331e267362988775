#include "editors/media/MediaEditorLayout.h"

#include <algorithm>
#include <cmath>

namespace qv {

MediaEditorLayout MediaEditorLayout::forPicture(std::optional<QSizeF> videoSize)
{
    MediaEditorLayout layout;
    if (!videoSize || !(videoSize->width() > 0) || !(videoSize->height() > 0))
        return layout;
    const double w = videoSize->width();
    const double h = videoSize->height();
    const double scale = std::min({720.0 / w, 440.0 / h, 1.0});
    // std::round takes halves away from zero.
    layout.pictureSize = QSize(std::max(1, int(std::round(w * scale))), std::max(1, int(std::round(h * scale))));
    layout.width = std::max(560, layout.pictureSize->width());
    const double frameWidth = std::max(8.0, 48.0 * w / h);
    const double slots = std::ceil((layout.width - 40) / frameWidth);
    layout.thumbnailCount = int(std::clamp(slots, 4.0, 40.0));
    return layout;
}

} // namespace qv
