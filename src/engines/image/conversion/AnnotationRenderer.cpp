#include "engines/image/conversion/AnnotationRenderer.h"

#include "model/errors/EngineError.h"
#include "model/operations/HexColor.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

QRectF spanned(const QPointF& a, const QPointF& b)
{
    return QRectF(std::min(a.x(), b.x()), std::min(a.y(), b.y()), std::abs(a.x() - b.x()),
                  std::abs(a.y() - b.y()));
}

QPainterPath polyline(const QList<QPointF>& points)
{
    QPainterPath path(points.first());
    for (qsizetype i = 1; i < points.size(); ++i)
        path.lineTo(points[i]);
    return path;
}

} // namespace

double AnnotationRenderer::arrowHeadLength(double lineWidth)
{
    return std::max(4.0 * lineWidth, 12.0);
}

void AnnotationRenderer::drawAnnotation(QPainter& painter, const Annotation& annotation)
{
    const QColor color = colorFromHex(annotation.colorHex).value_or(QColor(Qt::red));
    const QList<QPointF>& points = annotation.points;
    const double width = annotation.lineWidth;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    switch (annotation.kind) {
    case Annotation::Kind::pen:
    case Annotation::Kind::highlight: {
        if (points.isEmpty())
            break;
        QColor stroke = color;
        double strokeWidth = width;
        if (annotation.kind == Annotation::Kind::highlight) {
            stroke.setAlphaF(0.35);
            strokeWidth = 4 * width;
        }
        painter.setPen(QPen(stroke, strokeWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(polyline(points));
        break;
    }
    case Annotation::Kind::arrow: {
        if (points.size() < 2)
            break;
        const QPointF start = points.first();
        const QPointF end = points.last();
        const double angle = std::atan2(end.y() - start.y(), end.x() - start.x());
        const double head = arrowHeadLength(width);
        const QPointF shaftEnd = end - 0.6 * head * QPointF(std::cos(angle), std::sin(angle));
        painter.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawLine(start, shaftEnd);
        QPolygonF triangle;
        triangle << end << end - head * QPointF(std::cos(angle - 0.45), std::sin(angle - 0.45))
                 << end - head * QPointF(std::cos(angle + 0.45), std::sin(angle + 0.45));
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawPolygon(triangle);
        break;
    }
    case Annotation::Kind::rectangle:
    case Annotation::Kind::ellipse: {
        if (points.size() < 2)
            break;
        const QRectF rect = spanned(points[0], points[1]);
        painter.setPen(QPen(color, width));
        if (annotation.kind == Annotation::Kind::rectangle)
            painter.drawRoundedRect(rect, width, width);
        else
            painter.drawEllipse(rect);
        break;
    }
    case Annotation::Kind::text: {
        if (points.isEmpty() || !annotation.text || annotation.text->isEmpty())
            break;
        QFont font;
        font.setPixelSize(std::max(1, int(std::lround(annotation.fontSize.value_or(32.0)))));
        font.setWeight(QFont::DemiBold);
        painter.setFont(font);
        const QFontMetricsF metrics(font);
        const QPointF baseline = points.first() + QPointF(0, metrics.ascent());
        // A soft shadow: the text in translucent black, spread a little around its place.
        QColor shadow(0, 0, 0);
        shadow.setAlphaF(0.35 / 4);
        painter.setPen(shadow);
        for (const QPointF offset : {QPointF(-1.5, 1.5), QPointF(1.5, 1.5), QPointF(0, 3), QPointF(0, 0)})
            painter.drawText(baseline + offset, *annotation.text);
        painter.setPen(color);
        painter.drawText(baseline, *annotation.text);
        break;
    }
    }
    painter.restore();
}

QImage AnnotationRenderer::renderAnnotations(const QList<Annotation>& annotations, const QImage& picture)
{
    QImage canvas = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull() && !picture.isNull())
        throw EngineError(QStringLiteral("Not enough memory for this image"));
    QPainter painter(&canvas);
    for (const Annotation& annotation : annotations)
        drawAnnotation(painter, annotation);
    painter.end();
    return canvas;
}

} // namespace qv
