#include "editors/PhotoPreview.h"

#include "editors/Checkerboard.h"
#include "editors/CropOverlay.h"
#include "editors/PhotoEditorModel.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace qv {

PhotoPreview::PhotoPreview(PhotoEditorModel* model, QWidget* parent) : QWidget(parent), m_model(model)
{
    setFixedSize(500, 440);
    connect(m_model, &PhotoEditorModel::changed, this, &PhotoPreview::refresh);
    refresh();
}

bool PhotoPreview::showsCropFrame() const
{
    if (m_model->comparing())
        return false;
    if (m_model->tab() == PhotoEditorModel::Tab::crop)
        return true;
    return m_model->tab() == PhotoEditorModel::Tab::size && m_model->exactShapeRatio().has_value();
}

void PhotoPreview::refresh()
{
    update();
    if (!showsCropFrame()) {
        if (m_frame)
            m_frame->hide();
        return;
    }
    const QRect place = pictureRect();
    // The frame's sizes are fixed when it is made: a turn makes a new one.
    if (m_frame && (m_frame->size() != place.size() || m_frame->property("pixels").toSize() != m_model->orientedSize())) {
        delete m_frame;
        m_frame = nullptr;
    }
    if (!m_frame) {
        m_frame = new CropOverlay(m_model->orientedSize(), QSizeF(place.size()), this);
        m_frame->setProperty("pixels", m_model->orientedSize());
        m_frame->setCrop(m_model->crop());
        connect(m_frame, &CropOverlay::cropChanged, this, [this](const QRectF& crop) {
            if (crop != m_model->crop())
                m_model->setCrop(crop);
        });
    }
    m_frame->setRatio(m_model->cropShapeRatio());
    if (!m_frame->isDragging())
        m_frame->setCrop(m_model->crop());
    m_frame->move(place.topLeft());
    m_frame->show();
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
    if (showsCheckerboard())
        Checkerboard(8).paint(painter, target);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, picture());
    if (m_model->findingSubject()) {
        const QString text = QStringLiteral("Finding the subject…");
        QRectF panel = painter.fontMetrics().boundingRect(text).adjusted(-14, -14, 14, 14);
        panel.moveCenter(QRectF(rect()).center());
        QPainterPath box;
        box.addRoundedRect(panel, 10, 10);
        painter.fillPath(box, palette().window());
        painter.drawText(panel, Qt::AlignCenter, text);
    }
}

} // namespace qv
