#pragma once

#include <QColor>

class QPainter;

namespace qv {

// The program's own glyphs, drawn on a 24-unit grid.
enum class Glyph {
    mark, check, cross, warning, exclaim, stop, octagon, ring, ringDashed, halfRing, arrow,
    cycle, undo, document, documents, folder, gear, lock, shield, magnifier, eye, tray, box,
    scissors, clock, play, pause, speaker, wave, photo, text, info, ellipsis, chevron, lines,
    sliders, frame, grid, sun, drop, triangle, share, link, terminal, camera, bell, pen,
    person, gauge, hourglass, radio, expand, collapse, bubble, cursor, qrcode, zipper, wrench,
    cropMarks, redact, pip, rectangle, trim, thermometer, scribble, highlighter
};

// A glyph and the variant a symbol wants of it.
struct GlyphStyle {
    Glyph glyph = Glyph::mark;
    int angle = 0; // clockwise degrees, for arrows and chevrons; 0 points up or right
    bool filled = false;
    bool slashed = false;
};

// Draws the glyph in one colour on the painter's 24 × 24 grid. Filled glyphs cut their marks
// out of the disc, so draw them on a layer of their own.
void drawGlyph(QPainter& painter, const GlyphStyle& style, const QColor& color);

} // namespace qv
