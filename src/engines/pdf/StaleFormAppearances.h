#pragma once

extern "C" {
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>
}

namespace qv {

// A form that says NeedAppearances has text and choice fields whose stored pictures are not to
// be trusted: a filler that set the values left the old, often empty, pictures behind. Viewers
// draw such fields from their values, and so must we, or their words are lost to every reading.
class StaleFormAppearances {
public:
    // Takes the stored pictures off the pages' text and choice fields when the form needs
    // appearances, so that MuPDF draws them from their values as it loads each page. Only the
    // document in memory changes. Throws as MuPDF does.
    static void drop(fz_context* ctx, pdf_document* doc);
};

} // namespace qv
