#include "editors/media/Filmstrip.h"

#include "editors/media/MediaTimeline.h"
#include "editors/media/TimeLabel.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace qv {

namespace {

const QColor amber = QColor::fromRgbF(1.0f, 0.8f, 0.1f);

} // namespace

Filmstrip::Filmstrip(MediaTimeline* timeline, bool selects, std::function<void(double)> seek, QWidget* parent)
    : QWidget(parent), m_timeline(timeline), m_selects(selects), m_seek(std::move(seek))
{
    setFixedHeight(48);
    setMinimumWidth(100);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(selects ? QString() : QStringLiteral("Timeline"));
    // Playback repaints only this strip and the labels.
    connect(timeline, &MediaTimeline::timeChanged, this, qOverload<>(&QWidget::update));
    connect(timeline, &MediaTimeline::changed, this, [this] {
        if (m_selects && m_timeline)
            setAccessibleName(QStringLiteral("Selection from %1 to %2")
                                  .arg(timeLabel(m_timeline->start(), true), timeLabel(m_timeline->end(), true)));
        update();
    });
    connect(timeline, &MediaTimeline::thumbnailsChanged, this, qOverload<>(&QWidget::update));
    connect(timeline, &MediaTimeline::peaksChanged, this, qOverload<>(&QWidget::update));
    if (selects)
        setAccessibleName(QStringLiteral("Selection from %1 to %2")
                              .arg(timeLabel(timeline->start(), true), timeLabel(timeline->end(), true)));
}

double Filmstrip::stripWidth() const
{
    return std::max(width() - 2 * inset(), 1.0);
}

double Filmstrip::xForTime(double t) const
{
    const double duration = m_timeline ? m_timeline->duration : 0.0;
    const double fraction = duration > 0 ? t / duration : 0.0;
    return inset() + stripWidth() * fraction;
}

Filmstrip::Grab Filmstrip::partAt(double x) const
{
    if (!m_selects || !m_timeline)
        return Grab::playhead;
    const double dS = std::abs(x - (xForTime(m_timeline->start()) - 6));
    const double dE = std::abs(x - (xForTime(m_timeline->end()) + 6));
    if (dS <= 12 && dS <= dE)
        return Grab::start;
    if (dE <= 12)
        return Grab::end;
    return Grab::playhead;
}

void Filmstrip::dragTo(Grab part, double x)
{
    if (!m_timeline || !(m_timeline->duration > 0))
        return;
    MediaTimeline& model = *m_timeline;
    const double offset = part == Grab::start ? 6.0 : part == Grab::end ? -6.0 : 0.0;
    const double t = std::clamp(model.duration * ((x + offset - inset()) / stripWidth()), 0.0, model.duration);
    switch (part) {
    case Grab::playhead:
        m_seek(t);
        break;
    case Grab::start: {
        double s = std::min(t, model.end() - model.minimumLength);
        if (model.maxLength)
            s = std::max(s, model.end() - *model.maxLength);
        s = std::max(s, 0.0);
        model.setStart(s);
        m_seek(s);
        break;
    }
    case Grab::end: {
        double e = std::max(t, model.start() + model.minimumLength);
        if (model.maxLength)
            e = std::min(e, model.start() + *model.maxLength);
        e = std::min(e, model.duration);
        model.setEnd(e);
        m_seek(e);
        break;
    }
    }
}

std::optional<QRectF> Filmstrip::targetRect(const QString& name) const
{
    if (!m_timeline)
        return std::nullopt;
    const double h = height();
    if (name == QLatin1String("start") && m_selects)
        return QRectF(xForTime(m_timeline->start()) - 12, 0, 12, h);
    if (name == QLatin1String("end") && m_selects)
        return QRectF(xForTime(m_timeline->end()), 0, 12, h);
    if (name == QLatin1String("playhead"))
        return QRectF(xForTime(m_timeline->time()), 0, 0, h);
    if (name.startsWith(QLatin1String("time:"))) {
        bool ok = false;
        const double t = name.mid(5).toDouble(&ok);
        if (!ok || !std::isfinite(t))
            return std::nullopt;
        return QRectF(xForTime(t), 0, 0, h);
    }
    return std::nullopt;
}

QPointF Filmstrip::dragOffset(const QString& name) const
{
    if (name == QLatin1String("start"))
        return {-6, 0};
    if (name == QLatin1String("end"))
        return {6, 0};
    return {};
}

void Filmstrip::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_timeline || !(m_timeline->duration > 0))
        return;
    m_pressX = event->position().x();
    m_dragging = partAt(m_pressX);
    dragTo(*m_dragging, m_pressX);
}

void Filmstrip::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging)
        dragTo(*m_dragging, event->position().x());
}

void Filmstrip::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_dragging)
        return;
    const Grab part = *std::exchange(m_dragging, std::nullopt);
    const double x = event->position().x();
    if (!m_selects && part == Grab::playhead && std::abs(x - m_pressX) < 3 && m_timeline
        && m_timeline->duration > 0) {
        QList<double> markers = m_timeline->markers();
        for (qsizetype i = 0; i < markers.size(); ++i) {
            if (std::abs(xForTime(markers[i]) - x) <= 5) {
                markers.removeAt(i);
                m_timeline->setMarkers(markers);
                break;
            }
        }
    }
}

void Filmstrip::paintEvent(QPaintEvent*)
{
    if (!m_timeline)
        return;
    const MediaTimeline& model = *m_timeline;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double in = inset();
    const double w = stripWidth();
    const double h = height();
    const QColor primary = palette().color(QPalette::WindowText);
    QColor tint = primary;
    tint.setAlphaF(0.08f);

    const QRectF strip(in, 0, w, h);
    QPainterPath clip;
    clip.addRoundedRect(strip, 5, 5);
    painter.save();
    painter.setClipPath(clip);
    if (model.hasVideo) {
        const int cells = std::max(model.thumbnailCount(), 1);
        const double cellWidth = w / cells;
        for (int i = 0; i < cells; ++i) {
            const QRectF cell(in + cellWidth * i, 0, cellWidth, h);
            painter.fillRect(cell, tint);
            const auto it = model.thumbnails().constFind(i);
            if (it == model.thumbnails().constEnd() || it->isNull())
                continue;
            const QSizeF size = QSizeF(it->size()).scaled(cell.size(), Qt::KeepAspectRatioByExpanding);
            const QRectF target(cell.center().x() - size.width() / 2, cell.center().y() - size.height() / 2,
                                size.width(), size.height());
            painter.save();
            painter.setClipRect(cell, Qt::IntersectClip);
            painter.drawImage(target, *it);
            painter.restore();
        }
    } else {
        painter.fillRect(strip, tint);
        const QList<float>& peaks = model.peaks();
        if (!peaks.isEmpty()) {
            const double step = w / peaks.size();
            const double barWidth = std::max(0.6 * step, 1.0);
            QPainterPath bars;
            for (qsizetype i = 0; i < peaks.size(); ++i) {
                const double barHeight = std::max((h - 8) * double(peaks[i]), 1.5);
                bars.addRoundedRect(QRectF(in + step * i + 0.2 * step, (h - barHeight) / 2, barWidth, barHeight), 1, 1);
            }
            QColor secondary = primary;
            secondary.setAlphaF(0.55f);
            painter.fillPath(bars, secondary);
        }
    }
    painter.restore();

    if (m_selects) {
        const double x0 = xForTime(model.start());
        const double x1 = xForTime(model.end());
        const QColor dim(0, 0, 0, int(0.55 * 255));
        painter.fillRect(QRectF(in, 0, std::max(x0 - in, 0.0), h), dim);
        painter.fillRect(QRectF(x1, 0, std::max(in + w - x1, 0.0), h), dim);
        QPainterPath band;
        band.setFillRule(Qt::OddEvenFill);
        band.addRoundedRect(QRectF(x0 - 12, 0, x1 - x0 + 24, h), 6, 6);
        band.addRect(QRectF(x0, 3, x1 - x0, h - 6));
        painter.fillPath(band, amber);
        for (double cx : {x0 - 6, x1 + 6}) {
            QPainterPath grip;
            grip.addRoundedRect(QRectF(cx - 1.25, 0.32 * h, 2.5, 0.36 * h), 1.25, 1.25);
            painter.fillPath(grip, dim);
        }
    } else {
        const QColor accent = palette().color(QPalette::Highlight);
        for (double t : model.markers()) {
            QPainterPath mark;
            mark.addRoundedRect(QRectF(xForTime(t) - 1.5, -3, 3, h + 6), 1.5, 1.5);
            painter.fillPath(mark, accent);
        }
    }

    // The widget is only 48 high: the playhead's overhang is clipped to it.
    QPainterPath head;
    head.addRoundedRect(QRectF(xForTime(model.time()) - 1.5, -4, 3, h + 8), 1.5, 1.5);
    painter.fillPath(head.translated(0, 0.5), QColor(0, 0, 0, 128));
    painter.fillPath(head, Qt::white);
}

} // namespace qv
