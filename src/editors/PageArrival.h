#pragma once

class QWidget;

namespace qv {

class PageThumbnailLoader;

// Lays a busy sign over the pages of a PDF editor's view until the first of its pages arrives
// from the loader, or the loader gives up.
void showBusyUntilPagesArrive(QWidget* view, PageThumbnailLoader* loader);

} // namespace qv
