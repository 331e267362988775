#include "engines/pdf/StaleFormAppearances.h"

namespace qv {

void StaleFormAppearances::drop(fz_context* ctx, pdf_document* doc)
{
    pdf_obj* form = pdf_dict_getp(ctx, pdf_trailer(ctx, doc), "Root/AcroForm");
    if (!pdf_to_bool(ctx, pdf_dict_gets(ctx, form, "NeedAppearances")))
        return;
    // The pages' own widgets, not the form's field tree: viewers draw what the pages hold even
    // when the tree is broken or leaves some out.
    for (int page = 0, pages = pdf_count_pages(ctx, doc); page < pages; ++page) {
        pdf_obj* annotations = pdf_dict_get(ctx, pdf_lookup_page_obj(ctx, doc, page), PDF_NAME(Annots));
        for (int i = 0, n = pdf_array_len(ctx, annotations); i < n; ++i) {
            pdf_obj* widget = pdf_array_get(ctx, annotations, i);
            if (!pdf_name_eq(ctx, pdf_dict_get(ctx, widget, PDF_NAME(Subtype)), PDF_NAME(Widget)))
                continue;
            // Buttons keep theirs: their pictures are their states, not a value's words.
            pdf_obj* type = pdf_dict_get_inheritable(ctx, widget, PDF_NAME(FT));
            if (pdf_name_eq(ctx, type, PDF_NAME(Tx)) || pdf_name_eq(ctx, type, PDF_NAME(Ch)))
                pdf_dict_del(ctx, widget, PDF_NAME(AP));
        }
    }
}

} // namespace qv
