#include "app/preview/MovieDisplaySize.h"

#include "engines/media/probe/MediaProbe.h"

#include <QUrl>

namespace qv {

std::optional<QSizeF> movieDisplaySize(const QString& path, std::stop_token stop)
{
    try {
        const MediaInfo info = probeMediaInfo(QUrl::fromLocalFile(path), std::move(stop));
        if (!info.video || info.video->width <= 0 || info.video->height <= 0)
            return std::nullopt;
        const QSizeF stored(info.video->width, info.video->height);
        return info.video->rotation % 180 == 90 ? stored.transposed() : stored;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace qv
