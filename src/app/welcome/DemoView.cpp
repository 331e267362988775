#include "app/welcome/DemoView.h"

#include "model/operations/HexColor.h"

#include <QDateTime>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace qv {

namespace {

// 2001-01-01 00:00 UTC, the clock every demo keeps step with.
constexpr qint64 referenceEpochMs = 978307200000;

} // namespace

DemoView::DemoView(QWidget* parent)
    : QWidget(parent)
{
    m_animation.titles = {QStringLiteral("JPG"), QStringLiteral("PNG"), QStringLiteral("HEIC"),
                          QStringLiteral("WEBP"), QStringLiteral("AVIF"), QStringLiteral("PDF"),
                          QStringLiteral("TIFF"), QStringLiteral("GIF")};
    setFixedHeight(210);
    setAccessibleName(QStringLiteral("Animation: a file is dragged, Shift is tapped, a wheel of "
                                     "formats appears and the file is dropped on PNG"));
    m_ticker.setInterval(16);
    connect(&m_ticker, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

void DemoView::setFrozenTime(std::optional<double> t)
{
    m_frozenTime = t;
    updateTicker();
    update();
}

double DemoView::loopTime() const
{
    const double loop = m_animation.loop > 0 ? m_animation.loop : 6.5;
    const double seconds = m_frozenTime
        ? *m_frozenTime
        : double(QDateTime::currentMSecsSinceEpoch() - referenceEpochMs) / 1000.0;
    double t = std::fmod(seconds, loop);
    if (t < 0)
        t += loop;
    return t;
}

void DemoView::updateTicker()
{
    // A frozen or hidden demo costs nothing.
    if (isVisible() && !m_frozenTime)
        m_ticker.start();
    else
        m_ticker.stop();
}

void DemoView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    updateTicker();
}

void DemoView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    updateTicker();
}

void DemoView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = rect();
    QPainterPath shape;
    shape.addRoundedRect(area, 16, 16);
    painter.setClipPath(shape);
    QLinearGradient gradient(area.topLeft(), area.bottomRight());
    gradient.setColorAt(0, colorFromHex(QStringLiteral("#DCE6FF")).value_or(QColor()));
    gradient.setColorAt(1, colorFromHex(QStringLiteral("#F8E1D6")).value_or(QColor()));
    painter.fillRect(area, gradient);
    m_animation.drawFrame(painter, area.width(), area.height(), loopTime());
}

} // namespace qv
