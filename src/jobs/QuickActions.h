#pragma once

#include <QList>
#include <QPointF>
#include <QUrl>

namespace qv {

// The quick actions of the Actions wheel. Each reports its own problems with toasts; until
// the real ones are installed, every action says that it is not available yet.
class QuickActions {
public:
    virtual ~QuickActions() = default;
    virtual void sendToDevice(const QList<QUrl>& urls);
    virtual void floatFiles(const QList<QUrl>& urls, QPointF point);
    virtual void copyFiles(const QList<QUrl>& urls);
    virtual void showMoveMenu(const QList<QUrl>& urls, QPointF point);
    virtual void copyPaths(const QList<QUrl>& urls, bool shellEscaped);
    virtual void openInTerminal(const QList<QUrl>& urls);
    virtual void sharePicker(const QList<QUrl>& urls, QPointF point);
    virtual void preview(const QList<QUrl>& urls);

protected:
    virtual void notAvailable();
};

} // namespace qv
