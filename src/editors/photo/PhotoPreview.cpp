#include "editors/photo/PhotoPreview.h"

#include "editors/CropOverlay.h"
#include "editors/EditorActivity.h"
#include "editors/photo/Checkerboard.h"
#include "editors/photo/PhotoEditorModel.h"
#include "graphics/Spring.h"
#include "platform/desktop/ReduceMotion.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QTimer>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

// Turns and mirrors of the preview settle a little slower than the editors' other springs.
Spring motionSpring()
{
    return Spring::withResponse(0.35, 0.85);
}

// A rounded panel in the window's colour.
class BusyPanel : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath box;
        box.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
        QColor fill = palette().color(QPalette::Window);
        fill.setAlphaF(0.94);
        painter.fillPath(box, fill);
        QColor edge = palette().color(QPalette::WindowText);
        edge.setAlphaF(0.12);
        painter.setPen(edge);
        painter.drawPath(box);
    }
};

} // namespace

PhotoPreview::PhotoPreview(const PhotoEditorModel* model, QWidget* parent) : QWidget(parent), m_model(model)
{
    setFixedSize(500, 440);
    m_busy = new BusyPanel(this);
    auto* busyLayout = new QHBoxLayout(m_busy);
    busyLayout->setContentsMargins(14, 14, 14, 14);
    busyLayout->setSpacing(8);
    auto* spinner = new QProgressBar;
    spinner->setRange(0, 0); // no end: it keeps moving
    spinner->setTextVisible(false);
    spinner->setFixedSize(48, 8);
    busyLayout->addWidget(spinner);
    busyLayout->addWidget(new QLabel(QStringLiteral("Finding the subject…")));
    m_busy->hide();

    m_motion = new QVariantAnimation(this);
    m_motion->setStartValue(0.0);
    m_motion->setEndValue(1.0);
    m_motion->setDuration(std::max(1, int(std::ceil(motionSpring().settlingDuration() * 1000))));
    connect(m_motion, &QVariantAnimation::valueChanged, this, [this] {
        const int now = m_motion->currentTime();
        const double t = now >= m_motion->duration() ? 1.0 : motionSpring().valueAt(now / 1000.0);
        m_spin = m_spinFrom * (1 - t);
        m_mirror = QSizeF(m_mirrorFrom.width() + (1 - m_mirrorFrom.width()) * t,
                          m_mirrorFrom.height() + (1 - m_mirrorFrom.height()) * t);
        update();
    });
    connect(m_motion, &QVariantAnimation::finished, this, [this] {
        m_spin = 0;
        m_mirror = QSizeF(1, 1);
        setMotionActive(false);
        refresh();
    });

    connect(m_model, &PhotoEditorModel::changed, this, &PhotoPreview::refresh);
    refresh();
}

PhotoPreview::~PhotoPreview()
{
    setMotionActive(false);
}

bool PhotoPreview::showsCropFrame() const
{
    if (m_model->comparing())
        return false;
    if (m_model->tab() == PhotoEditorModel::Tab::crop)
        return true;
    return m_model->tab() == PhotoEditorModel::Tab::size && m_model->exactShapeRatio().has_value();
}

bool PhotoPreview::atRest() const
{
    return m_spin == 0 && m_mirror == QSizeF(1, 1);
}

void PhotoPreview::setMotionActive(bool active)
{
    // A driver waits for the preview to come to rest before it looks.
    if (active == m_motionActive)
        return;
    m_motionActive = active;
    if (active)
        EditorActivity::begin();
    else
        EditorActivity::end();
}

void PhotoPreview::springTurn(double degrees)
{
    m_motion->stop();
    m_spin = degrees;
    m_spinFrom = degrees;
    m_mirrorFrom = m_mirror;
    setMotionActive(true);
    refresh();
    // The counter-turn is laid out first; the spring starts from it.
    QTimer::singleShot(0, this, &PhotoPreview::startMotion);
}

void PhotoPreview::springMirror(QSizeF factors)
{
    m_motion->stop();
    m_mirror = factors;
    m_mirrorFrom = factors;
    m_spinFrom = m_spin;
    setMotionActive(true);
    refresh();
    QTimer::singleShot(0, this, &PhotoPreview::startMotion);
}

void PhotoPreview::startMotion()
{
    if (atRest() || m_motion->state() == QAbstractAnimation::Running) {
        if (atRest())
            setMotionActive(false);
        return;
    }
    m_spinFrom = m_spin;
    m_mirrorFrom = m_mirror;
    m_motion->start();
}

QVariantAnimation* PhotoPreview::motion() const
{
    return m_motion->state() == QAbstractAnimation::Running ? m_motion : nullptr;
}

void PhotoPreview::withSpring(const std::function<void()>& change)
{
    if (reduceMotion()) {
        change();
        return;
    }
    const bool outer = !m_springing;
    m_springing = true;
    change();
    if (outer)
        m_springing = false;
}

void PhotoPreview::refresh()
{
    update();
    if (m_model->findingSubject()) {
        m_busy->adjustSize();
        m_busy->move((width() - m_busy->width()) / 2, (height() - m_busy->height()) / 2);
        m_busy->show();
        m_busy->raise();
    } else {
        m_busy->hide();
    }
    if (!showsCropFrame() || !atRest()) {
        // A frame cannot turn with the picture: it comes back when the picture is at rest.
        if (m_frame)
            m_frame->hide();
        return;
    }
    const QRect place = pictureRect();
    // The frame's sizes are fixed when it is made: a turn makes a new one.
    if (m_frame && (m_frame->size() != place.size() || m_frame->property("pixels").toSize() != m_model->orientedSize())) {
        delete m_frame;
        m_frame = nullptr;
        m_frameTarget.reset();
    }
    const bool fresh = !m_frame || !m_frame->isVisible();
    if (!m_frame) {
        m_frame = new CropOverlay(m_model->orientedSize(), QSizeF(place.size()), this);
        m_frame->setProperty("pixels", m_model->orientedSize());
        m_frame->setCrop(m_model->crop());
        connect(m_frame, &CropOverlay::cropChanged, this, [this](const QRectF& crop) {
            if (m_frameTarget && !m_frame->isDragging()) {
                if (crop == *m_frameTarget)
                    m_frameTarget.reset();
                return;
            }
            m_frameTarget.reset();
            if (crop != m_model->crop())
                Q_EMIT cropEdited(crop);
        });
    }
    m_frame->setRatio(m_model->cropShapeRatio());
    const QRectF crop = m_model->crop();
    if (!m_frame->isDragging()) {
        if (!fresh && (m_springing || m_frameTarget) && crop != m_frame->crop()) {
            if (m_frameTarget != crop) {
                m_frameTarget = crop;
                m_frame->animateTo(crop);
            }
        } else if (!m_frameTarget) {
            m_frame->setCrop(crop);
        }
    }
    m_frame->move(place.topLeft());
    m_frame->show();
    m_busy->raise();
}

QSize PhotoPreview::fittedSize(QSize size)
{
    const double w = size.width(), h = size.height();
    const double s = std::min(472.0 / std::max(w, 1.0), 412.0 / std::max(h, 1.0));
    return QSize(int(std::lround(w * s)), int(std::lround(h * s)));
}

QImage PhotoPreview::picture() const
{
    if (m_model->comparing())
        return m_model->original;
    return showsCropFrame() ? m_model->display() : m_model->croppedDisplay();
}

QSize PhotoPreview::pictureSize() const
{
    if (m_model->comparing())
        return m_model->original.size();
    return showsCropFrame() ? m_model->display().size() : m_model->outputPixelSize();
}

QRect PhotoPreview::pictureRect() const
{
    const QSize size = fittedSize(pictureSize());
    return QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
}

bool PhotoPreview::showsCheckerboard() const
{
    return m_model->outputKeepsAlpha() && !m_model->comparing();
}

std::optional<QRectF> PhotoPreview::targetRect(const QString& name) const
{
    if (name == QLatin1String("picture"))
        return QRectF(pictureRect());
    return std::nullopt;
}

void PhotoPreview::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath back;
    back.addRoundedRect(QRectF(rect()), 10, 10);
    painter.fillPath(back, QColor(0, 0, 0, 15));
    const QRect target = pictureRect();
    if (!atRest()) {
        // Mirrored about the centre first, then turned about it.
        const QPointF centre = QRectF(target).center();
        painter.translate(centre);
        painter.rotate(m_spin);
        painter.scale(m_mirror.width(), m_mirror.height());
        painter.translate(-centre);
    }
    if (showsCheckerboard())
        Checkerboard(8).paint(painter, target);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, picture());
}

} // namespace qv
