#pragma once

#include "editors/EditorTargets.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

namespace qv {

class MediaTimeline;

// The media editor's timeline strip: frames or the waveform, the amber selection with its two
// grips (trim, ringtone) or the split marks, and the playhead; one drag moves what it grabbed.
class Filmstrip : public QWidget, public EditorTargets {
    Q_OBJECT
public:
    enum class Grab { start, end, playhead };

    Filmstrip(MediaTimeline* timeline, bool selects, std::function<void(double)> seek, QWidget* parent = nullptr);

    double inset() const { return m_selects ? 12.0 : 0.0; }
    double stripWidth() const;
    double xForTime(double t) const;

    // The part a press at x grabs.
    Grab partAt(double x) const;
    // Applies a drag of the part to x, as every move of the pointer does.
    void dragTo(Grab part, double x);

    std::optional<QRectF> targetRect(const QString& name) const override;
    QPointF dragOffset(const QString& name) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPointer<MediaTimeline> m_timeline;
    bool m_selects;
    std::function<void(double)> m_seek;
    std::optional<Grab> m_dragging;
    double m_pressX = 0.0;
};

} // namespace qv
