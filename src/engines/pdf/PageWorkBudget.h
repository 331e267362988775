#pragma once

#include <QtGlobal>

#include <vector>

extern "C" {
#include <mupdf/fitz.h>
}

namespace qv {

// The work one page may cost MuPDF, counted as it is done: a device that stands before the one
// drawing or reading the page, charges every call, and passes it on. A page made to be endless
// (forms that each draw the next twice, thirty deep; a pattern stepped a millionth of a point;
// millions of operators) runs out of its budget within seconds: the cookie is aborted and the
// call that overran throws, so the page ends, and exceeded() tells why.
//
// A unit is about a microsecond of drawing. A call costs four, one more for each glyph it shows,
// four for each time a tile is repeated, and, while drawing, one for every 1024 pixels it paints
// within what the clips leave (twice that for a clip that is not a rectangle, four times for a
// smooth shading), so that a page's cost follows the work done however it is spread.
class PageWorkBudget {
public:
    // Some twenty seconds of work: four times what a page of 20,000 lines across a map costs
    // (one of the slowest real pages to draw), and some seconds of the costliest hostile pages.
    static constexpr qint64 defaultUnits = 20'000'000;
    // A drawing may cost this many times more as its picture covers, so that a vast picture
    // may be painted over as often as a small one.
    static constexpr double coverings = 16;

    // For a device that draws: toPixels, the map from the page's space (in which the page is
    // run) to the picture's pixels the device applies; painted, the picture's pixels. For one
    // that reads text, whose calls cost no pixels, painted is empty. Throws as MuPDF does
    // (fz_throw): make it inside fz_try, in a std::optional declared outside it.
    PageWorkBudget(fz_context* ctx, fz_device* target, fz_matrix toPixels, fz_irect painted,
                   fz_cookie* cookie, qint64 units = defaultUnits);
    ~PageWorkBudget();
    PageWorkBudget(const PageWorkBudget&) = delete;
    PageWorkBudget& operator=(const PageWorkBudget&) = delete;

    // The device to run the page on. Closing it does not close the target.
    fz_device* device() const;
    bool exceeded() const;
    qint64 spent() const;

    struct Device;

private:
    fz_context* m_ctx;
    Device* m_device;
    std::vector<fz_rect> m_scissors;
};

} // namespace qv
