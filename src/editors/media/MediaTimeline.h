#pragma once

#include "model/operations/OperationOptions.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>

#include <functional>
#include <optional>

namespace qv {

// The model of one open media editor: the playhead, the selection (trim and ringtone), the split
// plan, and the filmstrip frames or waveform levels. Main thread only; changed() follows every
// write made through the setters.
class MediaTimeline : public QObject {
    Q_OBJECT
public:
    enum SplitPlan { atPoints = 0, equalParts = 1, everySeconds = 2 };

    MediaTimeline(double duration, bool hasVideo, std::optional<double> maxLength, QObject* parent = nullptr);

    const double duration;
    const bool hasVideo;
    const std::optional<double> maxLength;
    const double minimumLength;

    double time() const { return m_time; }
    double start() const { return m_start; }
    double end() const { return m_end; }
    bool isPlaying() const { return m_isPlaying; }
    const QHash<int, QImage>& thumbnails() const { return m_thumbnails; }
    int thumbnailCount() const { return m_thumbnailCount; }
    const QList<float>& peaks() const { return m_peaks; }
    const QList<double>& markers() const { return m_markers; }
    int splitMode() const { return m_splitMode; }
    int parts() const { return m_parts; }
    double seconds() const { return m_seconds; }
    // Whether the player shows its picture yet; whether filmstrip frames or levels are still
    // being read. The view shows a busy sign meanwhile.
    bool isPictureShown() const { return m_pictureShown; }
    bool areFramesLoading() const { return m_framesLoading; }
    // Set when the view sees the player's frames itself: then the first frame, not the first
    // finished seek, tells that the picture is shown.
    bool isPictureWatched() const { return m_pictureWatched; }
    void setPictureWatched(bool watched) { m_pictureWatched = watched; }

    void setTime(double time);
    void setStart(double start);
    void setEnd(double end);
    void setPlaying(bool playing);
    void setThumbnail(int slot, const QImage& image);
    void setThumbnailCount(int count);
    void setPeaks(QList<float> peaks);
    void setMarkers(QList<double> markers);
    void setSplitMode(int mode);
    void setParts(int parts);
    void setSeconds(double seconds);
    void setPictureShown(bool shown);
    void setFramesLoading(bool loading);

    bool coversWholeFile() const;
    bool canApplySplit() const;
    // Adds the playhead as a split point, or beeps when it is within 0.2 s of either end of the
    // file or within 0.25 s of another point.
    void addMarkerAtPlayhead();
    OperationOptions trimOptions() const;
    OperationOptions splitOptions() const;

    // The system beep by default; tests count.
    std::function<void()> beep;

Q_SIGNALS:
    void changed();
    void timeChanged();
    void thumbnailsChanged();
    void peaksChanged();
    void loadingChanged();

private:
    double m_time = 0.0;
    double m_start = 0.0;
    double m_end;
    bool m_isPlaying = false;
    QHash<int, QImage> m_thumbnails;
    int m_thumbnailCount = 0;
    QList<float> m_peaks;
    QList<double> m_markers;
    int m_splitMode = atPoints;
    int m_parts = 2;
    double m_seconds = 60.0;
    bool m_pictureShown = false;
    bool m_framesLoading = false;
    bool m_pictureWatched = false;
};

} // namespace qv
