#include "editors/media/MediaTimeline.h"

#include <QApplication>

#include <algorithm>
#include <cmath>

namespace qv {

MediaTimeline::MediaTimeline(double duration, bool hasVideo, std::optional<double> maxLength, QObject* parent)
    : QObject(parent),
      duration(duration),
      hasVideo(hasVideo),
      maxLength(maxLength),
      minimumLength(std::min(duration * 0.25, 0.5)),
      beep([] { QApplication::beep(); }),
      m_end(maxLength ? std::min(*maxLength, duration) : duration)
{
}

void MediaTimeline::setTime(double time)
{
    if (m_time == time)
        return;
    m_time = time;
    Q_EMIT timeChanged();
}

void MediaTimeline::setStart(double start)
{
    if (m_start == start)
        return;
    m_start = start;
    Q_EMIT changed();
}

void MediaTimeline::setEnd(double end)
{
    if (m_end == end)
        return;
    m_end = end;
    Q_EMIT changed();
}

void MediaTimeline::setPlaying(bool playing)
{
    if (m_isPlaying == playing)
        return;
    m_isPlaying = playing;
    Q_EMIT changed();
}

void MediaTimeline::setThumbnail(int slot, const QImage& image)
{
    m_thumbnails.insert(slot, image);
    Q_EMIT thumbnailsChanged();
}

void MediaTimeline::setThumbnailCount(int count)
{
    m_thumbnailCount = count;
    Q_EMIT thumbnailsChanged();
}

void MediaTimeline::setPeaks(QList<float> peaks)
{
    m_peaks = std::move(peaks);
    Q_EMIT peaksChanged();
}

void MediaTimeline::setPictureShown(bool shown)
{
    if (shown == m_pictureShown)
        return;
    m_pictureShown = shown;
    Q_EMIT loadingChanged();
}

void MediaTimeline::setFramesLoading(bool loading)
{
    if (loading == m_framesLoading)
        return;
    m_framesLoading = loading;
    Q_EMIT loadingChanged();
}

void MediaTimeline::setMarkers(QList<double> markers)
{
    std::sort(markers.begin(), markers.end());
    if (m_markers == markers)
        return;
    m_markers = std::move(markers);
    Q_EMIT changed();
}

void MediaTimeline::setSplitMode(int mode)
{
    if (m_splitMode == mode)
        return;
    m_splitMode = mode;
    Q_EMIT changed();
}

void MediaTimeline::setParts(int parts)
{
    if (m_parts == parts)
        return;
    m_parts = parts;
    Q_EMIT changed();
}

void MediaTimeline::setSeconds(double seconds)
{
    if (m_seconds == seconds)
        return;
    m_seconds = seconds;
    Q_EMIT changed();
}

bool MediaTimeline::coversWholeFile() const
{
    return m_start < 0.05 && m_end > duration - 0.05;
}

bool MediaTimeline::canApplySplit() const
{
    return m_splitMode != atPoints || !m_markers.isEmpty();
}

void MediaTimeline::addMarkerAtPlayhead()
{
    const double t = m_time;
    const bool inside = t > 0.2 && t < duration - 0.2;
    const bool apart = std::none_of(m_markers.begin(), m_markers.end(),
                                    [t](double marker) { return std::abs(marker - t) < 0.25; });
    if (!inside || !apart) {
        if (beep)
            beep();
        return;
    }
    QList<double> markers = m_markers;
    markers.append(t);
    setMarkers(std::move(markers));
}

OperationOptions MediaTimeline::trimOptions() const
{
    OperationOptions options;
    options.trimStart = m_start;
    options.trimEnd = m_end;
    return options;
}

OperationOptions MediaTimeline::splitOptions() const
{
    OperationOptions options;
    switch (m_splitMode) {
    case equalParts: options.split = SplitMode::parts(m_parts); break;
    case everySeconds: options.split = SplitMode::every(m_seconds); break;
    default: options.split = SplitMode::at(m_markers); break;
    }
    return options;
}

} // namespace qv
