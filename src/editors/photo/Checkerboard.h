#pragma once

#include <QRectF>

class QPainter;

namespace qv {

// The grey checker drawn behind transparent pixels; the top left square is dark.
class Checkerboard {
public:
    explicit Checkerboard(double square) : m_square(square) {}

    // Light grey everywhere, dark squares where row + column is even; a strip narrower than a
    // square at the right or bottom stays light.
    void paint(QPainter& painter, const QRectF& area) const;
    // How many dark squares paint() draws in the area.
    int darkSquares(const QSizeF& area) const;

    static constexpr int lightGrey = 240; // white level 0.94
    static constexpr int darkGrey = 204; // white level 0.8

private:
    double m_square;
};

} // namespace qv
