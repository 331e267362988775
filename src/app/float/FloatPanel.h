#pragma once

#include "app/float/FloatPanelLayout.h"
#include "app/preview/PreviewContent.h"

#include <QList>
#include <QPointF>
#include <QUrl>
#include <QWidget>

#include <optional>

class QMenu;

namespace qv {

class PlayerProcess;
class ScreenProvider;

// A file pinned to the screen: a small frameless tool window above the others, on every
// desktop, shown without taking the focus. It is dragged by its background, resized from its
// corner keeping the content's proportions (not for generic previews), faded with Alt and the
// scroll wheel or its context menu, and closed with Escape, a double click (not on a movie or
// a sound), its close button or the menu. Main thread only.
class FloatPanel : public QWidget {
    Q_OBJECT
public:
    explicit FloatPanel(const QUrl& url, const ScreenProvider& screens);
    ~FloatPanel() override;

    const QUrl& url() const { return m_url; }
    PreviewContent::Kind kind() const { return m_content.kind; }
    QWidget* contentView() const { return m_content.view; }
    // The player of a movie or a sound; null otherwise and once the panel has closed.
    PlayerProcess* player() const;
    QMenu* contextMenu() const { return m_menu; }

    // Resizing keeps this width-to-height proportion; none lets the panel take any shape.
    void setAspect(std::optional<QSizeF> aspect);

    void setOpacityPercent(int percent);
    void reveal();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void placeOverlays();

    QUrl m_url;
    PreviewContent m_content;
    std::optional<QSizeF> m_aspect;
    QMenu* m_menu = nullptr;
    QWidget* m_closeButton = nullptr;
    QWidget* m_sizeGrip = nullptr;
    std::optional<QPointF> m_dragOffset;
    bool m_fitting = false;
};

// Opens a panel for each of the first six files, cascaded from the point: the first centred on
// it, each next one 28 px right and lower, kept 8 px inside the visible frame of the screen
// under the point. The point is in y-up global coordinates (ScreenProvider's), the pointer's
// place when Float was chosen.
void floatFiles(const QList<QUrl>& urls, QPointF point);
void floatFiles(const QList<QUrl>& urls, QPointF point, const ScreenProvider& screens);

// The panels on screen, in opening order.
const QList<FloatPanel*>& openFloatPanels();

// Fits a movie panel to the movie's display size (rotation applied, longest side at most 520),
// keeping its top-left corner, once a probe off the main thread has told it. Silent on failure;
// does nothing when the panel closed meanwhile.
void adjustToVideoSize(FloatPanel* panel, const ScreenProvider& screens);

} // namespace qv
