#include "engines/pdf/StaleFormAppearances.h"

namespace qv {

namespace {

// Deeper field trees are no real form's.
constexpr int deepest = 32;

void dropField(fz_context* ctx, pdf_obj* field, int depth)
{
    if (depth > deepest || !pdf_is_dict(ctx, field) || pdf_mark_obj(ctx, field))
        return;
    fz_try(ctx)
    {
        pdf_obj* kids = pdf_dict_get(ctx, field, PDF_NAME(Kids));
        for (int i = 0, n = pdf_array_len(ctx, kids); i < n; ++i)
            dropField(ctx, pdf_array_get(ctx, kids, i), depth + 1);
        if (pdf_name_eq(ctx, pdf_dict_get(ctx, field, PDF_NAME(Subtype)), PDF_NAME(Widget))) {
            // Buttons keep theirs: their pictures are their states, not a value's words.
            pdf_obj* type = pdf_dict_get_inheritable(ctx, field, PDF_NAME(FT));
            if (pdf_name_eq(ctx, type, PDF_NAME(Tx)) || pdf_name_eq(ctx, type, PDF_NAME(Ch)))
                pdf_dict_del(ctx, field, PDF_NAME(AP));
        }
    }
    fz_always(ctx)
    {
        pdf_unmark_obj(ctx, field);
    }
    fz_catch(ctx)
    {
        fz_rethrow(ctx);
    }
}

} // namespace

void StaleFormAppearances::drop(fz_context* ctx, pdf_document* doc)
{
    pdf_obj* form = pdf_dict_getp(ctx, pdf_trailer(ctx, doc), "Root/AcroForm");
    if (!pdf_to_bool(ctx, pdf_dict_gets(ctx, form, "NeedAppearances")))
        return;
    pdf_obj* fields = pdf_dict_get(ctx, form, PDF_NAME(Fields));
    for (int i = 0, n = pdf_array_len(ctx, fields); i < n; ++i)
        dropField(ctx, pdf_array_get(ctx, fields, i), 0);
}

} // namespace qv
