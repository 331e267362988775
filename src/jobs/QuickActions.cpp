#include "jobs/QuickActions.h"

#include "jobs/Toasts.h"

namespace qv {

void QuickActions::sendToDevice(const QList<QUrl>&) { notAvailable(); }
void QuickActions::floatFiles(const QList<QUrl>&, QPointF) { notAvailable(); }
void QuickActions::copyFiles(const QList<QUrl>&) { notAvailable(); }
void QuickActions::showMoveMenu(const QList<QUrl>&, QPointF) { notAvailable(); }
void QuickActions::copyPaths(const QList<QUrl>&, bool) { notAvailable(); }
void QuickActions::openInTerminal(const QList<QUrl>&) { notAvailable(); }
void QuickActions::sharePicker(const QList<QUrl>&, QPointF) { notAvailable(); }
void QuickActions::preview(const QList<QUrl>&) { notAvailable(); }

void QuickActions::notAvailable()
{
    showToast(QStringLiteral("This action isn't available yet"),
              QStringLiteral("exclamationmark.triangle"));
}

} // namespace qv
