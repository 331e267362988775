#include "widgets/ChipStyle.h"

#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionButton>

#include <algorithm>

namespace qv {

ChipStyle::ChipStyle(bool selected) : m_selected(selected) {}

QColor ChipStyle::fill(const QPalette& palette, bool pressed) const
{
    if (m_selected)
        return palette.color(QPalette::Active, QPalette::Highlight);
    QColor faint = palette.color(QPalette::Active, QPalette::WindowText);
    faint.setAlphaF(pressed ? 0.16 : 0.08);
    return faint;
}

QColor ChipStyle::textColor(const QPalette& palette) const
{
    return m_selected ? QColor(Qt::white) : palette.color(QPalette::Active, QPalette::WindowText);
}

QFont ChipStyle::chipFont(const QFont& base) const
{
    QFont font = base;
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * 0.92);
    font.setWeight(m_selected ? QFont::DemiBold : QFont::Normal);
    return font;
}

void ChipStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                            const QWidget* widget) const
{
    const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
    if (element != CE_PushButton || !button) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setOpacity(painter->opacity() * opacity(option->state & State_Enabled));
    const QRectF area = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath pill;
    pill.addRoundedRect(area, cornerRadius, cornerRadius);
    painter->fillPath(pill, fill(option->palette, option->state & State_Sunken));
    painter->setFont(chipFont(widget ? widget->font() : painter->font()));
    painter->setPen(textColor(option->palette));
    painter->drawText(option->rect, Qt::AlignCenter | Qt::TextSingleLine, button->text);
    painter->restore();
}

void ChipStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                              const QWidget* widget) const
{
    // The pill is the whole look: no focus ring, no bevel.
    if (element == PE_FrameFocusRect || element == PE_PanelButtonCommand || element == PE_FrameDefaultButton)
        return;
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

QSize ChipStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                  const QWidget* widget) const
{
    if (type != CT_PushButton)
        return QProxyStyle::sizeFromContents(type, option, size, widget);
    const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
    const QFontMetrics metrics(chipFont(widget ? widget->font() : QFont()));
    const int textWidth = button ? metrics.horizontalAdvance(button->text) : size.width();
    // Narrow enough that four share the column; the layout stretches them.
    return QSize(textWidth + 8, std::max(minimumHeight, metrics.height() + 8));
}

} // namespace qv
