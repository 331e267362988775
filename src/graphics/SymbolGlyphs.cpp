#include "graphics/SymbolGlyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <cmath>

namespace qv {

namespace {

QPainterPath arrowPath()
{
    QPainterPath path;
    path.moveTo(12, 20);
    path.lineTo(12, 4);
    path.moveTo(6, 10);
    path.lineTo(12, 4);
    path.lineTo(18, 10);
    return path;
}

} // namespace

void drawGlyph(QPainter& p, const GlyphStyle& e, const QColor& color)
{
    QPen pen(color, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QColor ink = color;
    auto disc = [&](bool filled) {
        if (filled) {
            p.setPen(Qt::NoPen);
            p.setBrush(ink);
            p.drawEllipse(QRectF(2, 2, 20, 20));
            // Drawn marks are cut out of the disc.
            p.setCompositionMode(QPainter::CompositionMode_DestinationOut);
            p.setPen(QPen(Qt::black, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.setBrush(Qt::NoBrush);
        } else {
            p.drawEllipse(QRectF(3, 3, 18, 18));
        }
    };
    switch (e.glyph) {
    case Glyph::mark:
        p.drawEllipse(QRectF(4, 4, 16, 16));
        p.setBrush(ink);
        p.drawEllipse(QRectF(10, 10, 4, 4));
        break;
    case Glyph::check:
        disc(e.filled);
        p.drawPolyline(QPolygonF({{7.5, 12.5}, {10.5, 15.5}, {16.5, 8.5}}));
        break;
    case Glyph::cross:
        p.drawLine(QPointF(6, 6), QPointF(18, 18));
        p.drawLine(QPointF(18, 6), QPointF(6, 18));
        break;
    case Glyph::warning:
        p.drawPolygon(QPolygonF({{12, 3}, {22, 20}, {2, 20}}));
        p.drawLine(QPointF(12, 9), QPointF(12, 13.5));
        p.drawPoint(QPointF(12, 17));
        break;
    case Glyph::exclaim:
        disc(e.filled);
        p.drawLine(QPointF(12, 7), QPointF(12, 13));
        p.drawPoint(QPointF(12, 16.5));
        break;
    case Glyph::stop:
        disc(e.filled);
        if (e.filled)
            p.setBrush(Qt::black);
        p.drawRect(QRectF(9, 9, 6, 6));
        break;
    case Glyph::octagon: {
        QPolygonF octagon;
        for (int i = 0; i < 8; ++i) {
            const double a = qDegreesToRadians(22.5 + 45.0 * i);
            octagon << QPointF(12 + 10 * std::cos(a), 12 + 10 * std::sin(a));
        }
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawPolygon(octagon);
        p.setCompositionMode(QPainter::CompositionMode_DestinationOut);
        p.setPen(QPen(Qt::black, 2.4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8.5, 8.5), QPointF(15.5, 15.5));
        p.drawLine(QPointF(15.5, 8.5), QPointF(8.5, 15.5));
        break;
    }
    case Glyph::ring:
        p.drawEllipse(QRectF(3, 3, 18, 18));
        break;
    case Glyph::ringDashed:
        p.setPen(QPen(ink, 2.0, Qt::DashLine, Qt::FlatCap));
        p.drawEllipse(QRectF(3, 3, 18, 18));
        break;
    case Glyph::halfRing:
        p.drawEllipse(QRectF(3, 3, 18, 18));
        p.setBrush(ink);
        p.drawPie(QRectF(3, 3, 18, 18), 90 * 16, 180 * 16);
        break;
    case Glyph::arrow:
        p.translate(12, 12);
        p.rotate(e.angle);
        p.translate(-12, -12);
        p.drawPath(arrowPath());
        if (e.angle == 180 || e.angle == 90 || e.angle == 0) {
            // Two-way arrows: a head on both ends.
            p.drawPolyline(QPolygonF({{6, 14}, {12, 20}, {18, 14}}));
        }
        break;
    case Glyph::cycle:
        p.drawArc(QRectF(4, 4, 16, 16), 30 * 16, 150 * 16);
        p.drawArc(QRectF(4, 4, 16, 16), 210 * 16, 150 * 16);
        p.drawPolyline(QPolygonF({{15, 4}, {19, 7.5}, {15.5, 11}}));
        p.drawPolyline(QPolygonF({{9, 20}, {5, 16.5}, {8.5, 13}}));
        break;
    case Glyph::undo: {
        QPainterPath path;
        path.moveTo(6, 9);
        path.lineTo(15, 9);
        path.arcTo(QRectF(10, 9, 10, 10), 90, -180);
        path.lineTo(9, 19);
        p.drawPath(path);
        p.drawPolyline(QPolygonF({{9.5, 5.5}, {6, 9}, {9.5, 12.5}}));
        break;
    }
    case Glyph::document:
        p.drawPolygon(QPolygonF({{6, 3}, {14, 3}, {19, 8}, {19, 21}, {6, 21}}));
        p.drawLine(QPointF(9, 13), QPointF(16, 13));
        p.drawLine(QPointF(9, 17), QPointF(16, 17));
        break;
    case Glyph::documents:
        p.drawRoundedRect(QRectF(8, 7, 12, 15), 2, 2);
        p.drawPolyline(QPolygonF({{5, 17}, {4, 17}, {4, 2}, {15, 2}, {15, 4}}));
        break;
    case Glyph::folder:
        p.drawPolygon(QPolygonF({{3, 6}, {9, 6}, {11, 8}, {21, 8}, {21, 19}, {3, 19}}));
        break;
    case Glyph::gear:
        for (int i = 0; i < 8; ++i) {
            const double a = qDegreesToRadians(45.0 * i);
            p.drawLine(QPointF(12 + 7 * std::cos(a), 12 + 7 * std::sin(a)),
                       QPointF(12 + 10 * std::cos(a), 12 + 10 * std::sin(a)));
        }
        p.drawEllipse(QRectF(5, 5, 14, 14));
        p.drawEllipse(QRectF(9.5, 9.5, 5, 5));
        break;
    case Glyph::cropMarks:
        // Two corner marks crossing, as a crop tool's.
        p.drawPolyline(QPolygonF({{7, 3}, {7, 17}, {21, 17}}));
        p.drawPolyline(QPolygonF({{3, 7}, {17, 7}, {17, 21}}));
        break;
    case Glyph::redact:
        // A page whose lines are blacked out.
        p.drawRoundedRect(QRectF(5, 3, 14, 18), 2, 2);
        p.drawLine(QPointF(8, 7.5), QPointF(16, 7.5));
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawRect(QRectF(7.5, 11, 9, 3.5));
        p.drawRect(QRectF(7.5, 16, 6, 2));
        break;
    case Glyph::pip:
        // A window with a smaller one floating over its corner.
        p.drawRoundedRect(QRectF(3, 4, 18, 14), 2, 2);
        p.setBrush(ink);
        p.drawRoundedRect(QRectF(12, 11, 7, 5), 1, 1);
        break;
    case Glyph::rectangle:
        p.drawRect(QRectF(4, 6, 16, 12));
        break;
    case Glyph::trim:
        // A strip of time between two brackets.
        p.drawLine(QPointF(2, 12), QPointF(22, 12));
        p.drawPolyline(QPolygonF({{9, 6}, {7, 6}, {7, 18}, {9, 18}}));
        p.drawPolyline(QPolygonF({{15, 6}, {17, 6}, {17, 18}, {15, 18}}));
        break;
    case Glyph::thermometer:
        p.drawRoundedRect(QRectF(10, 3, 4, 13), 2, 2);
        p.drawEllipse(QRectF(8, 15, 8, 7));
        p.setBrush(ink);
        p.drawEllipse(QRectF(10, 17, 4, 3));
        p.drawLine(QPointF(12, 17), QPointF(12, 9));
        break;
    case Glyph::scribble: {
        // A free line, as a pen draws.
        QPainterPath line;
        line.moveTo(3, 16);
        line.cubicTo(6, 6, 9, 6, 10, 12);
        line.cubicTo(11, 18, 14, 18, 16, 11);
        line.cubicTo(17, 7, 19, 7, 21, 9);
        p.drawPath(line);
        break;
    }
    case Glyph::highlighter:
        // A chisel tip over a broad stroke.
        p.drawPolygon(QPolygonF({{8, 15}, {15, 4}, {20, 7}, {13, 18}}));
        p.drawLine(QPointF(8, 15), QPointF(7, 18));
        p.setPen(QPen(ink, 3.5, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(QPointF(3, 21), QPointF(21, 21));
        break;
    case Glyph::wrench: {
        // An open-ended spanner across the square, its head at the top right.
        p.drawLine(QPointF(5, 19), QPointF(13.5, 10.5));
        QPainterPath head;
        head.moveTo(13.5, 10.5);
        head.arcTo(QRectF(11, 3, 10, 10), 225, -270);
        head.lineTo(17.5, 8);
        head.lineTo(15.5, 6);
        p.drawPath(head);
        p.drawEllipse(QRectF(4, 17.5, 2.5, 2.5));
        break;
    }
    case Glyph::lock:
        p.drawRoundedRect(QRectF(5, 11, 14, 10), 2, 2);
        if (e.slashed)
            p.drawArc(QRectF(12, 3, 10, 12), 0, 180 * 16);
        else
            p.drawArc(QRectF(7, 4, 10, 14), 0, 180 * 16);
        break;
    case Glyph::shield:
        p.drawPolygon(QPolygonF({{12, 2.5}, {20, 5.5}, {19, 14}, {12, 21.5}, {5, 14}, {4, 5.5}}));
        p.drawPolyline(QPolygonF({{8.5, 12}, {11, 14.5}, {15.5, 9.5}}));
        break;
    case Glyph::magnifier:
        p.drawEllipse(QRectF(4, 4, 12, 12));
        p.drawLine(QPointF(14.5, 14.5), QPointF(20, 20));
        break;
    case Glyph::eye: {
        QPainterPath path;
        path.moveTo(2, 12);
        path.quadTo(12, 2, 22, 12);
        path.quadTo(12, 22, 2, 12);
        p.drawPath(path);
        p.drawEllipse(QRectF(9, 9, 6, 6));
        if (e.slashed)
            p.drawLine(QPointF(4, 20), QPointF(20, 4));
        break;
    }
    case Glyph::tray:
        p.drawPolyline(QPolygonF({{3, 14}, {3, 20}, {21, 20}, {21, 14}}));
        p.drawLine(QPointF(12, 3), QPointF(12, 14));
        p.drawPolyline(QPolygonF({{7.5, 9.5}, {12, 14}, {16.5, 9.5}}));
        break;
    case Glyph::box:
        p.drawRect(QRectF(3, 4, 18, 5));
        p.drawPolyline(QPolygonF({{5, 9}, {5, 20}, {19, 20}, {19, 9}}));
        p.drawLine(QPointF(10, 13), QPointF(14, 13));
        break;
    case Glyph::zipper:
        p.drawPolygon(QPolygonF({{6, 3}, {14, 3}, {19, 8}, {19, 21}, {6, 21}}));
        for (double y = 6; y < 16; y += 3)
            p.drawLine(QPointF(11, y), QPointF(13, y));
        p.drawRect(QRectF(10.5, 15, 3, 3));
        break;
    case Glyph::scissors:
        p.drawEllipse(QRectF(3, 14, 6, 6));
        p.drawEllipse(QRectF(15, 14, 6, 6));
        p.drawLine(QPointF(8, 15), QPointF(18, 3));
        p.drawLine(QPointF(16, 15), QPointF(6, 3));
        break;
    case Glyph::clock:
        p.drawEllipse(QRectF(3, 3, 18, 18));
        p.drawPolyline(QPolygonF({{12, 7}, {12, 12}, {15.5, 14}}));
        break;
    case Glyph::play:
        p.translate(12, 12);
        p.rotate(e.angle);
        p.translate(-12, -12);
        p.setBrush(ink);
        p.drawPolygon(QPolygonF({{7, 4}, {19, 12}, {7, 20}}));
        break;
    case Glyph::pause:
        p.setBrush(ink);
        p.drawRect(QRectF(6, 4, 4, 16));
        p.drawRect(QRectF(14, 4, 4, 16));
        break;
    case Glyph::speaker:
        p.drawPolygon(QPolygonF({{3, 9}, {7, 9}, {12, 4}, {12, 20}, {7, 15}, {3, 15}}));
        if (e.slashed) {
            p.drawLine(QPointF(15, 9), QPointF(21, 15));
            p.drawLine(QPointF(21, 9), QPointF(15, 15));
        } else {
            p.drawArc(QRectF(10, 7, 8, 10), -60 * 16, 120 * 16);
        }
        break;
    case Glyph::wave:
        for (int i = 0; i < 6; ++i) {
            static const double heights[] = {4, 10, 16, 8, 13, 5};
            const double x = 3.5 + i * 3.4;
            p.drawLine(QPointF(x, 12 - heights[i] / 2), QPointF(x, 12 + heights[i] / 2));
        }
        break;
    case Glyph::photo:
        p.drawRoundedRect(QRectF(3, 5, 18, 14), 2, 2);
        p.drawPolyline(QPolygonF({{3, 17}, {9, 11}, {14, 16}, {16, 14}, {21, 18}}));
        p.drawEllipse(QRectF(14, 7.5, 3, 3));
        break;
    case Glyph::text:
        p.drawPolyline(QPolygonF({{5, 20}, {12, 4}, {19, 20}}));
        p.drawLine(QPointF(8, 14), QPointF(16, 14));
        break;
    case Glyph::info:
        p.drawEllipse(QRectF(3, 3, 18, 18));
        p.drawLine(QPointF(12, 11), QPointF(12, 17));
        p.drawPoint(QPointF(12, 7.5));
        break;
    case Glyph::ellipsis:
        p.drawEllipse(QRectF(3, 3, 18, 18));
        p.setBrush(ink);
        for (double x : {8.0, 12.0, 16.0})
            p.drawEllipse(QPointF(x, 12), 0.8, 0.8);
        break;
    case Glyph::chevron:
        p.translate(12, 12);
        p.rotate(e.angle);
        p.translate(-12, -12);
        p.drawPolyline(QPolygonF({{9, 5}, {16, 12}, {9, 19}}));
        break;
    case Glyph::lines:
        for (double y : {6.0, 12.0, 18.0})
            p.drawLine(QPointF(4, y), QPointF(20, y));
        break;
    case Glyph::sliders:
        for (double y : {6.0, 12.0, 18.0})
            p.drawLine(QPointF(3, y), QPointF(21, y));
        p.setBrush(ink);
        p.drawEllipse(QPointF(8, 6), 2, 2);
        p.drawEllipse(QPointF(16, 12), 2, 2);
        p.drawEllipse(QPointF(11, 18), 2, 2);
        break;
    case Glyph::frame:
        p.drawRoundedRect(QRectF(3, 5, 18, 14), 2, 2);
        p.drawRect(QRectF(11, 11, 7, 5));
        break;
    case Glyph::grid:
        p.drawRoundedRect(QRectF(3, 3, 18, 18), 2, 2);
        p.drawLine(QPointF(9, 3), QPointF(9, 21));
        p.drawLine(QPointF(15, 3), QPointF(15, 21));
        p.drawLine(QPointF(3, 9), QPointF(21, 9));
        p.drawLine(QPointF(3, 15), QPointF(21, 15));
        break;
    case Glyph::sun:
        p.drawEllipse(QRectF(8, 8, 8, 8));
        for (int i = 0; i < 8; ++i) {
            const double a = qDegreesToRadians(45.0 * i);
            p.drawLine(QPointF(12 + 6.5 * std::cos(a), 12 + 6.5 * std::sin(a)),
                       QPointF(12 + 9.5 * std::cos(a), 12 + 9.5 * std::sin(a)));
        }
        break;
    case Glyph::drop: {
        QPainterPath path;
        path.moveTo(12, 3);
        path.cubicTo(17, 10, 19, 13, 19, 15);
        path.arcTo(QRectF(5, 8, 14, 14), 0, -180);
        path.cubicTo(5, 13, 7, 10, 12, 3);
        p.drawPath(path);
        break;
    }
    case Glyph::triangle:
        p.drawPolygon(QPolygonF({{12, 4}, {21, 20}, {3, 20}}));
        break;
    case Glyph::share:
        p.drawPolyline(QPolygonF({{8, 9}, {5, 9}, {5, 21}, {19, 21}, {19, 9}, {16, 9}}));
        if (e.angle == 45) {
            p.drawLine(QPointF(10, 14), QPointF(19, 5));
            p.drawPolyline(QPolygonF({{13, 4}, {20, 4}, {20, 11}}));
        } else {
            p.drawLine(QPointF(12, 2.5), QPointF(12, 14));
            p.drawPolyline(QPolygonF({{8, 6.5}, {12, 2.5}, {16, 6.5}}));
        }
        break;
    case Glyph::link:
        p.translate(12, 12);
        p.rotate(-45);
        p.translate(-12, -12);
        p.drawRoundedRect(QRectF(2, 9, 11, 6), 3, 3);
        p.drawRoundedRect(QRectF(11, 9, 11, 6), 3, 3);
        break;
    case Glyph::terminal:
        p.drawRoundedRect(QRectF(2, 4, 20, 16), 2, 2);
        p.drawPolyline(QPolygonF({{6, 9}, {9, 12}, {6, 15}}));
        p.drawLine(QPointF(11, 15), QPointF(16, 15));
        break;
    case Glyph::camera:
        p.drawRoundedRect(QRectF(2, 7, 20, 13), 2, 2);
        p.drawPolyline(QPolygonF({{8, 7}, {9.5, 4}, {14.5, 4}, {16, 7}}));
        p.drawEllipse(QRectF(8.5, 9.5, 7, 7));
        break;
    case Glyph::bell: {
        QPainterPath path;
        path.moveTo(4, 17);
        path.lineTo(6, 14);
        path.lineTo(6, 10);
        path.arcTo(QRectF(6, 4, 12, 12), 180, -180);
        path.lineTo(18, 14);
        path.lineTo(20, 17);
        path.closeSubpath();
        p.drawPath(path);
        p.drawLine(QPointF(10, 20.5), QPointF(14, 20.5));
        break;
    }
    case Glyph::pen:
        p.drawPolygon(QPolygonF({{4, 20}, {5, 15}, {16, 4}, {20, 8}, {9, 19}}));
        p.drawLine(QPointF(14, 6), QPointF(18, 10));
        break;
    case Glyph::person:
        p.drawEllipse(QRectF(8, 3, 8, 8));
        p.drawArc(QRectF(4, 13, 16, 14), 0, 180 * 16);
        break;
    case Glyph::gauge:
        p.drawArc(QRectF(3, 5, 18, 18), -20 * 16, 220 * 16);
        p.drawLine(QPointF(12, 14), QPointF(17, 9));
        break;
    case Glyph::hourglass:
        p.drawLine(QPointF(5, 3), QPointF(19, 3));
        p.drawLine(QPointF(5, 21), QPointF(19, 21));
        p.drawPolyline(QPolygonF({{7, 3}, {7, 6}, {12, 12}, {7, 18}, {7, 21}}));
        p.drawPolyline(QPolygonF({{17, 3}, {17, 6}, {12, 12}, {17, 18}, {17, 21}}));
        break;
    case Glyph::radio:
        p.setBrush(ink);
        p.drawEllipse(QPointF(12, 14), 2, 2);
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(7, 9, 10, 10), 30 * 16, 120 * 16);
        p.drawArc(QRectF(3, 5, 18, 18), 30 * 16, 120 * 16);
        break;
    case Glyph::expand:
    case Glyph::collapse: {
        const bool out = e.glyph == Glyph::expand;
        p.drawLine(QPointF(4, 4), QPointF(10, 10));
        p.drawLine(QPointF(20, 20), QPointF(14, 14));
        if (out) {
            p.drawPolyline(QPolygonF({{4, 9}, {4, 4}, {9, 4}}));
            p.drawPolyline(QPolygonF({{20, 15}, {20, 20}, {15, 20}}));
        } else {
            p.drawPolyline(QPolygonF({{5, 10}, {10, 10}, {10, 5}}));
            p.drawPolyline(QPolygonF({{19, 14}, {14, 14}, {14, 19}}));
        }
        break;
    }
    case Glyph::bubble:
        p.drawPolygon(QPolygonF({{3, 4}, {21, 4}, {21, 16}, {10, 16}, {5, 20}, {6, 16}, {3, 16}}));
        p.drawLine(QPointF(7, 8.5), QPointF(17, 8.5));
        p.drawLine(QPointF(7, 12), QPointF(14, 12));
        break;
    case Glyph::cursor:
        p.drawPolygon(QPolygonF({{8, 6}, {18, 14}, {13, 14.5}, {15.5, 20}, {13.5, 21}, {11, 15.5}, {8, 19}}));
        p.drawLine(QPointF(4, 4), QPointF(5.5, 5.5));
        p.drawLine(QPointF(8, 2), QPointF(8, 3));
        break;
    case Glyph::qrcode:
        p.drawRect(QRectF(4, 4, 6, 6));
        p.drawRect(QRectF(14, 4, 6, 6));
        p.drawRect(QRectF(4, 14, 6, 6));
        p.setBrush(ink);
        p.drawRect(QRectF(14, 14, 2, 2));
        p.drawRect(QRectF(18, 18, 2, 2));
        break;
    }
}

} // namespace qv
