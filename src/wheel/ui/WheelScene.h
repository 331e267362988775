#pragma once

#include "wheel/LabelSlot.h"
#include "wheel/SegmentLayer.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainterPath>
#include <QRectF>

#include <optional>

class QPainter;

namespace qv {

// A piece of text as laid out: lines centred in a frame. Sizes are in the wheel's points.
struct SceneText {
    QStringList lines;
    QFont font;
    double fontSize = 12;
    QColor color;
    double lineHeightMultiple = 1;
    bool wraps = false;
    QRectF frame;
    bool visible = false;

    QString text() const { return lines.join(QLatin1Char('\n')); }
};

// One drawn segment or More item: its state, its outline and what the animations move.
struct SceneSegment {
    SegmentLayer layer;
    QPainterPath path;
    QColor stroke;
    SceneText title;
    std::optional<QImage> icon; // at the backing scale
    QRectF iconFrame;
    bool castsShadow = false;

    // Presentation: where the animations have got to.
    double scale = 1;
    std::optional<double> pulseScale; // wins over scale while the pulse plays
    QColor fill;
    double opacity = 1;
    double appearScale = 1;
};

// The wheel as a retained tree of plain values, in widget coordinates (y down). The view
// lays it out; painting reads nothing else.
struct WheelScene {
    QPointF center;
    double diameter = 420;
    bool isDark = false;

    QPainterPath circle; // the backdrop's shape
    QColor backdrop;
    QPainterPath overlayPath;
    QColor overlayFill;
    QColor overlayStroke;

    QList<SceneSegment> segments;
    QList<SceneSegment> moreItems;

    QRectF discFrame;
    QColor discTop;
    QColor discBottom;
    QColor rim;
    QRectF cardFrame;
    bool showFirstCard = false;
    bool showSecondCard = false;
    std::optional<QImage> thumb; // scaled to fill thumbFrame at the backing scale
    QRectF thumbFrame;
    QRectF pillFrame;
    bool showPill = false;
    SceneText pillText;

    SceneText message;
    QRectF chipFrame;
    bool showChip = false;
    QColor chipBackground;
    QColor chipBorder;
    SceneText chipText;

    // The open animation, about the wheel centre.
    double rootScale = 1;
    double rootOpacity = 1;
    // A content swap: the old rings, message and chip fading out over the new ones.
    std::optional<QImage> fadeFrom;
    double fadeProgress = 1;

    void paint(QPainter& painter) const;
    // The shadow and the backdrop, as paint draws them first.
    void paintBackdrop(QPainter& painter) const;
    // Only what a content swap cross-fades: rings, message and chip.
    void paintSwappable(QPainter& painter) const;
    void paintMessageAndChip(QPainter& painter) const;
    // The area painted, for windows that must be cut to their shape.
    QPainterPath shape() const;
    // The parts shape() joins, not yet merged into one outline.
    QPainterPath outline() const;

private:
    struct BackdropKey {
        QPointF center; // from the layer's origin
        double diameter;
        QPainterPath circle;
        QColor backdrop;
        double ratio;
        QSize size;
        bool operator==(const BackdropKey&) const = default;
    };
    struct CachedBackdrop {
        BackdropKey key;
        QImage image;
    };
    struct BackdropLayer {
        QPoint origin;
        QImage image;
    };
    // The backdrop rendered once for its geometry and colours: the first frame of every open
    // shows nothing else.
    BackdropLayer backdropLayer(double ratio) const;
    mutable std::optional<CachedBackdrop> m_backdrop;
};

} // namespace qv
