#include "app/welcome/TriggerCard.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>

namespace qv {

namespace {

QString rgba(QColor color, double alpha)
{
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue())
        .arg(alpha);
}

} // namespace

TriggerCard::TriggerCard(const QString& title, const QString& subtitle, QWidget* parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 10, 10, 10);
    row->setSpacing(10);

    const QColor primary = palette().color(QPalette::WindowText);
    m_cap = new QLabel(this);
    m_cap->setAlignment(Qt::AlignCenter);
    QFont capFont = font();
    capFont.setPixelSize(17);
    capFont.setWeight(QFont::DemiBold);
    m_cap->setFont(capFont);
    m_cap->setFixedSize(34, 30);
    m_cap->setStyleSheet(QStringLiteral("QLabel { background: %1; border: 1px solid %2; "
                                        "border-radius: 7px; padding: 0 6px; }")
                             .arg(rgba(primary, 0.07), rgba(primary, 0.15)));
    row->addWidget(m_cap, 0, Qt::AlignVCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    texts->addStretch(1);
    auto* titleLabel = new QLabel(title, this);
    QFont titleFont = font();
    titleFont.setWeight(QFont::DemiBold);
    titleLabel->setFont(titleFont);
    texts->addWidget(titleLabel);
    auto* subtitleLabel = new QLabel(subtitle, this);
    QFont captionFont = font();
    if (captionFont.pointSizeF() > 0)
        captionFont.setPointSizeF(captionFont.pointSizeF() * 0.85);
    subtitleLabel->setFont(captionFont);
    subtitleLabel->setWordWrap(true);
    QPalette secondary = subtitleLabel->palette();
    QColor text = primary;
    text.setAlphaF(0.62f);
    secondary.setColor(QPalette::WindowText, text);
    subtitleLabel->setPalette(secondary);
    texts->addWidget(subtitleLabel);
    texts->addStretch(1);
    row->addLayout(texts);
    row->addStretch(1);
}

void TriggerCard::setKey(const QString& key)
{
    m_cap->setText(key.isEmpty() ? QStringLiteral("–") : key);
    // Wider than 34 when the key's name needs it.
    const int textWidth = m_cap->fontMetrics().horizontalAdvance(m_cap->text());
    m_cap->setFixedWidth(std::max(34, textWidth + 2 * 6 + 2));
}

QString TriggerCard::keyText() const
{
    return m_cap->text();
}

void TriggerCard::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = palette().color(QPalette::WindowText);
    fill.setAlphaF(0.04f);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 12, 12);
    painter.fillPath(shape, fill);
}

} // namespace qv
