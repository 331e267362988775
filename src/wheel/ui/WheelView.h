#pragma once

#include "model/settings/Shortcut.h"
#include "model/wheel/WheelContent.h"
#include "wheel/MoreRingGeometry.h"
#include "wheel/ui/WheelScene.h"
#include "wheel/ui/WheelTimeline.h"
#include "wheel/WheelDrop.h"
#include "wheel/WheelGeometry.h"
#include "wheel/WheelSceneLayout.h"
#include "wheel/WheelTarget.h"

#include <QWidget>

namespace qv {

class ScreenProvider;

// Draws the wheel, hit-tests the pointer and takes the drop. It owns no session: the
// controller sets the geometry and the centre's texts, shows content, and answers the signals.
// Geometry is y-up inside the view (origin at its bottom-left), as the wheel's rules are
// written; Qt positions are converted at the edge.
class WheelView : public QWidget {
    Q_OBJECT
public:
    explicit WheelView(QWidget* parent = nullptr);

    // What the controller writes before laying out.
    // Pointer choosing and the keyboard work only in click mode.
    void setClickMode(bool on);
    bool isClickMode() const { return m_isClickMode; }
    // Click mode: the key that opened the wheel closes it when pressed again.
    void setCloseShortcut(std::optional<Shortcut> shortcut) { m_closeShortcut = shortcut; }
    // A drag's wheel a rest opened: its chip names no key, and says which wheel a rest after
    // leaving the strip brings (none when there is no other).
    void setRestHint(bool openedByRest, std::optional<WheelKind> next)
    {
        m_openedByRest = openedByRest;
        m_nextByRest = next;
    }
    // The chip's words when no segment is pointed at.
    QString chipLine() const;
    void setDiameter(double diameter) { m_geometry.diameter = diameter; }
    // In the view's y-up coordinates.
    void setWheelCenter(QPointF center) { m_geometry.center = center; }
    const WheelGeometry& wheelGeometry() const { return m_geometry; }
    void setSourceLabel(const QString& label);
    const QString& sourceLabel() const { return m_sourceLabel; }
    void setThumbnail(const std::optional<QImage>& thumbnail) { m_thumbnail = thumbnail; }
    void setFileCount(int count) { m_fileCount = count; }
    // Tests pin a font; empty means the system's.
    void setFontFamily(const QString& family) { m_fontFamily = family; }
    void setScreenProvider(const ScreenProvider& screens) { m_screens = &screens; }
    // Renders pictures for another resolution than the window's (0: the window's).
    void setBackingScale(double scale) { m_backingScale = scale; }
    WheelTimeline& timeline() { return m_timeline; }

    // Forgets the last wheel's transient state before a fresh open.
    void reset();
    // Shows new content; the More ring closes without asking for a smaller panel.
    void setContent(const std::optional<WheelContent>& content, bool animated);
    const std::optional<WheelContent>& content() const { return m_content; }

    void relayout();
    void layoutCenter();
    void layoutChip();
    bool isDarkAppearance() const;
    const WheelScene& scene() const { return m_scene; }
    // The painted area: a window without a compositor is cut to it.
    QPainterPath paintedShape() const;

    // The More ring.
    void openMoreRing();
    void closeMoreRing(bool notify);
    bool isMoreOpen() const { return m_isMoreOpen; }
    const std::optional<MoreRingGeometry>& moreGeometry() const { return m_moreGeometry; }
    bool isMoreHoverPending() const { return m_moreHoverTimer != 0; }

    // The wheel grows from 85 % and fades in; with reduced motion it only fades.
    void playOpenAnimation();

    // The highlight and the keyboard.
    WheelTarget target() const { return m_target; }
    void setTarget(const WheelTarget& target, bool animated);
    void clearTarget();
    WheelTarget targetAt(QPointF viewPoint) const;
    std::optional<WheelSegmentModel> segmentModel(const WheelTarget& target) const;
    void pulseTarget(const WheelTarget& target);
    void moveTarget(int delta);
    void handleTab();
    void activateTarget(const WheelTarget& target);
    QString accessibilityText() const;

    // Between Qt's widget positions and the view's y-up points.
    QPointF toView(QPointF widgetPoint) const;
    QPointF toWidget(QPointF viewPoint) const;

Q_SIGNALS:
    // A click-mode choice: the session's files are meant.
    void segmentChosen(const qv::WheelSegmentModel& segment);
    // A drop on a segment or More item.
    void segmentDropped(const qv::WheelSegmentModel& segment, const qv::WheelDrop& drop);
    // A drop that missed, Escape, a click outside the wheel.
    void closeRequested(bool animated);
    // Click mode: another wheel's trigger modifier went down.
    void wheelSwitchRequested(qv::WheelKind kind);
    // The first drag entry since the last reset: the real dragged files.
    void dragEnteredFirst(const qv::WheelDrop& drop);
    // The More ring opened or closed: the panel should resize and set the geometry again.
    void panelResizeRequested(bool moreOpen);
    void targetChanged(const qv::WheelTarget& target);
    // The painted area changed.
    void shapeChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void rebuildSegmentLayers();
    void rebuildMoreLayers();
    void layoutMessage();
    WheelSceneLayout sceneLayout() const;
    QColor titleColor() const;
    WheelSceneLayout::IconSource iconSource() const;
    SceneSegment makeSegment(const WheelSegmentModel& model, int index, int count,
                             const PlacedSegment& placed, bool more) const;
    SceneSegment* sceneSegment(const WheelTarget& target);
    void setHighlighted(const WheelTarget& target, bool on, bool animated);
    void updateMoreHoverTimer();
    void cancelMoreHoverTimer();
    bool answerDrag(QDragMoveEvent* event);
    void modifiersChanged(Qt::KeyboardModifiers flags);
    double backingScale() const;

    bool m_isClickMode = false;
    bool m_openedByRest = false;
    std::optional<WheelKind> m_nextByRest;
    std::optional<Shortcut> m_closeShortcut;
    std::optional<WheelContent> m_content;
    WheelGeometry m_geometry;
    std::optional<MoreRingGeometry> m_moreGeometry;
    WheelTarget m_target;
    bool m_isMoreOpen = false;
    int m_moreHoverTimer = 0;
    QString m_sourceLabel;
    std::optional<QImage> m_thumbnail;
    QImage m_filledThumb; // m_thumbnail as the centre shows it
    qint64 m_filledFrom = 0; // the cache key of the picture it was made from
    int m_fileCount = 1;
    QColor m_accent;
    WheelTarget m_pressedTarget;
    Qt::KeyboardModifiers m_lastFlags;
    bool m_dragEnteredOnce = false;
    bool m_firstPaintDue = false; // noted in the log, for the time from a rest or tap to the wheel
    QString m_fontFamily;
    double m_backingScale = 0;
    const ScreenProvider* m_screens;
    WheelScene m_scene;
    // The last painted shape and the outline it was made from: most opens repeat it.
    mutable QPainterPath m_shapeOutline;
    mutable QPainterPath m_shape;
    WheelTimeline m_timeline;
};

} // namespace qv
