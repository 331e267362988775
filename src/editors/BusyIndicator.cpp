#include "editors/BusyIndicator.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>

namespace qv {

BusyIndicator::BusyIndicator(QWidget* covered, const QString& text)
    : QWidget(covered->parentWidget()), m_covered(covered)
{
    setObjectName(QStringLiteral("busy"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->setSpacing(8);
    auto* bar = new QProgressBar(this);
    bar->setRange(0, 0); // no end: it keeps moving
    bar->setTextVisible(false);
    bar->setFixedSize(48, 8);
    layout->addWidget(bar);
    m_label = new QLabel(text, this);
    layout->addWidget(m_label);
    covered->installEventFilter(this);
    follow();
    show();
    raise();
}

void BusyIndicator::setBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    setVisible(busy);
    if (busy)
        follow();
}

bool BusyIndicator::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_covered && m_busy) {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::ZOrderChange:
            follow();
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void BusyIndicator::follow()
{
    adjustSize();
    const QRect area = m_covered->geometry();
    move(area.center().x() - width() / 2, area.center().y() - height() / 2);
    raise();
}

void BusyIndicator::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath pill;
    pill.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), height() / 2.0, height() / 2.0);
    QColor fill = palette().color(QPalette::Window);
    fill.setAlphaF(0.92f);
    painter.fillPath(pill, fill);
}

} // namespace qv
