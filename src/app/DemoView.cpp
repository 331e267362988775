#include "app/DemoView.h"

#include <QPainter>

namespace qv {

DemoView::DemoView(QWidget* parent)
    : QWidget(parent)
{
    m_animation.titles = {QStringLiteral("JPG"), QStringLiteral("PNG"), QStringLiteral("HEIC"),
                          QStringLiteral("WEBP"), QStringLiteral("AVIF"), QStringLiteral("PDF"),
                          QStringLiteral("TIFF"), QStringLiteral("GIF")};
    setFixedHeight(210);
}

void DemoView::setFrozenTime(std::optional<double> t)
{
    m_frozenTime = t;
    update();
}

void DemoView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    m_animation.drawFrame(painter, width(), height(), m_frozenTime.value_or(0.0));
}

} // namespace qv
