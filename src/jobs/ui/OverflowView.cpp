#include "jobs/ui/OverflowView.h"

#include "jobs/ui/PillBackground.h"

#include <QPainter>

namespace qv {

OverflowView::OverflowView(int count, const QSize& size, QWidget* parent)
    : QWidget(parent)
    , m_count(count)
{
    resize(size);
    setAccessibleName(text(count));
}

QString OverflowView::text(int count)
{
    return QStringLiteral("+%1 more").arg(count);
}

void OverflowView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    paintPillBackground(p, rect(), palette());
    QFont font;
    font.setPixelSize(11);
    font.setWeight(QFont::DemiBold);
    p.setFont(font);
    p.setPen(secondaryTextColor(palette()));
    p.drawText(rect(), Qt::AlignCenter, text(m_count));
}

} // namespace qv
