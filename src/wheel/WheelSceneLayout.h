#pragma once

#include "model/wheel/WheelContent.h"
#include "wheel/MoreRingGeometry.h"
#include "wheel/WheelGeometry.h"

#include <QFont>
#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <QSize>
#include <QStringList>

#include <functional>
#include <optional>

namespace qv {

// Text placed in a frame, its lines centred there. Sizes are in the wheel's points.
struct PlacedText {
    QStringList lines;
    QFont font;
    double fontSize = 12;
    double lineHeightMultiple = 1;
    bool wraps = false;
    QRectF frame;
};

// One segment or More item: its outline, its title and its symbol above the title.
struct PlacedSegment {
    QPainterPath path;
    PlacedText title;
    std::optional<QImage> icon; // at the backing scale
    QRectF iconFrame;           // empty for a title alone
};

// The disc in the middle, the source label in its pill and the picture above it.
struct PlacedCenter {
    QRectF disc;
    QRectF pill;
    PlacedText label;
    bool showsPill = false;
    QRectF picture;
    std::optional<QSize> thumbnailPixels; // the thumbnail, scaled to fill the picture
    bool showsFirstCard = false;
    bool showsSecondCard = false;
};

// The wheel's name in its chip above the circle.
struct PlacedChip {
    QRectF frame;
    PlacedText text;
};

// Where the wheel's parts go, worked out from its geometry, the view's height and what it
// shows. Geometry is y-up as the wheel's rules are written; the results are in the view's
// widget coordinates (y down), ready to draw.
struct WheelSceneLayout {
    // A symbol's picture at a point size, rendered at the backing scale; none for no symbol.
    using IconSource = std::function<std::optional<QImage>(const QString& symbol, double pointSize)>;

    WheelGeometry geometry;
    double viewHeight = 0;
    double backingScale = 1;
    QString fontFamily; // empty: the system's

    QPointF wheelCenter() const;
    // The square the wheel's circle fills.
    QRectF circleFrame() const;

    // The main ring's segments, in the content's order.
    QList<PlacedSegment> segments(const WheelContent& content, const IconSource& icons) const;
    // The open More ring about the More segment; none when it is closed or has nothing to show.
    std::optional<MoreRingGeometry> moreRing(const WheelContent& content, bool open) const;
    QList<PlacedSegment> moreItems(const WheelContent& content, const MoreRingGeometry& ring,
                                   const IconSource& icons) const;
    // Where segment 0's title would be; none without a message.
    std::optional<PlacedText> message(const WheelContent& content) const;

    // The label and picture pair is centred on the wheel; several files show cards behind
    // the picture.
    PlacedCenter center(const QString& sourceLabel, std::optional<QSize> thumbnailSize,
                        int fileCount) const;
    // Above the circle, or below it (where a picture dragged over the upper half cannot cover it).
    PlacedChip chip(const QString& line, bool below = false) const;

    // The wheel's texts other than titles: the title font without extra letter spacing.
    QFont font(double size, QFont::Weight weight) const;

private:
    PlacedSegment segment(const WheelSegmentModel& model, const QPainterPath& outline,
                          QPointF labelCenter, bool more, const IconSource& icons) const;
    QPointF toWidget(QPointF viewPoint) const;
    QRectF toWidget(const QRectF& viewRect) const;
    QPainterPath toWidget(const QPainterPath& viewPath) const;
};

} // namespace qv
