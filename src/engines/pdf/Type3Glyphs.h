#pragma once

extern "C" {
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>
}

namespace qv {

// MuPDF draws each glyph of a Type3 font while it loads the font, on a device and without a
// cookie of ours: a glyph that draws forms which each draw the next twice, thirty deep, would
// keep it there for hours, beyond any budget of the page's own.
class Type3Glyphs {
public:
    // Whether a Type3 font the page uses (in its resources, its forms', patterns' and
    // annotations') has a glyph that draws more than a million forms. Reads the glyphs'
    // content streams, not the page's; what does not read counts as nothing.
    static bool endless(fz_context* ctx, pdf_document* doc, pdf_obj* page);

    static constexpr double formLimit = 1'000'000;
};

} // namespace qv
