#include "editors/redact/RedactModel.h"

namespace qv {

bool RedactModel::add(const Box& box)
{
    if (box.bounds.width() < 3 || box.bounds.height() < 3)
        return false;
    m_boxes.append(box);
    Q_EMIT changed();
    return true;
}

void RedactModel::undo()
{
    if (m_boxes.isEmpty())
        return;
    m_boxes.removeLast();
    Q_EMIT changed();
}

QMap<int, QList<QRectF>> RedactModel::redactions() const
{
    QMap<int, QList<QRectF>> result;
    for (const Box& box : m_boxes)
        result[box.page].append(box.bounds);
    return result;
}

QString RedactModel::actionTitle(int count)
{
    if (count == 0)
        return QStringLiteral("Redact");
    return QStringLiteral("Redact %1 Area%2").arg(count).arg(count == 1 ? QString() : QStringLiteral("s"));
}

} // namespace qv
