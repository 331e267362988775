#include "app/MemoryReturn.h"

#include "model/Log.h"
#include "platform/processes/ResidentPages.h"

#include <QApplication>
#include <QEvent>
#include <QPixmapCache>
#include <QWidget>

#include <malloc.h>

namespace qv {

MemoryReturn::MemoryReturn(QObject* parent)
    : QObject(parent)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(delayMs);
    m_rest.setSingleShot(true);
    m_rest.setInterval(restMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        giveBack();
        m_rest.start();
    });
    connect(&m_rest, &QTimer::timeout, this, [] { rest(); });
    // The start-up's own work (the catalogue, the wheel drawn ahead) is done by then.
    m_rest.start();
}

void MemoryReturn::install()
{
    static MemoryReturn* installed = nullptr;
    if (installed || !qApp)
        return;
    // glibc raises its mapping threshold to the largest block freed (up to 32 MB), after which
    // pictures come from the heap and leave it in holes; a fixed threshold keeps them apart.
    ::mallopt(M_MMAP_THRESHOLD, 1 << 20);
    installed = new MemoryReturn(qApp);
    qApp->installEventFilter(installed);
}

void MemoryReturn::giveBack()
{
    QPixmapCache::clear();
    ::malloc_trim(0);
}

void MemoryReturn::rest()
{
    for (const QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible())
            return;
    }
    giveBack();
    if (!ResidentPages::releaseLinkingTables())
        qCWarning(appLog, "Some of the linking tables could not be let go");
}

bool MemoryReturn::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Hide && watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow())
        m_timer.start();
    return false;
}

} // namespace qv
