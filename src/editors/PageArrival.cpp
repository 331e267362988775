#include "editors/PageArrival.h"

#include "editors/BusyIndicator.h"
#include "editors/PageThumbnailLoader.h"

#include <QAbstractScrollArea>

namespace qv {

void showBusyUntilPagesArrive(QWidget* view, PageThumbnailLoader* loader)
{
    QWidget* pages = view->findChild<QAbstractScrollArea*>();
    if (!pages || loader->isDone())
        return;
    auto* busy = new BusyIndicator(pages, QStringLiteral("Reading pages…"));
    const auto arrived = [busy] { busy->setBusy(false); };
    QObject::connect(loader, &PageThumbnailLoader::thumbnailReady, busy, arrived);
    QObject::connect(loader, &PageThumbnailLoader::finished, busy, arrived);
}

} // namespace qv
