#include "engines/pdf/Type3Glyphs.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace qv {

namespace {

// Nesting beyond this is refused by MuPDF's own drawing anyway.
constexpr int deepest = 64;

// What the walk keeps by object number: made before any MuPDF call, so that nothing here needs
// destroying when MuPDF throws past it.
struct Walk {
    std::vector<double> draws; // per form: -1 unknown, -2 being counted, else its draws
    std::vector<char> seen;    // resource dictionaries and fonts already looked at
    std::vector<pdf_obj*> fonts;
    std::vector<pdf_obj*> fontResources;
};

bool firstLook(fz_context* ctx, Walk& walk, pdf_obj* obj)
{
    const int number = pdf_to_num(ctx, obj);
    if (number <= 0)
        return true; // direct: cannot be reached twice but through its holder
    if (size_t(number) >= walk.seen.size() || walk.seen[size_t(number)])
        return false;
    walk.seen[size_t(number)] = 1;
    return true;
}

bool isForm(fz_context* ctx, pdf_obj* obj)
{
    return pdf_is_stream(ctx, obj) && pdf_name_eq(ctx, pdf_dict_get(ctx, obj, PDF_NAME(Subtype)), PDF_NAME(Form));
}

// The forms a content stream draws, counting what each draws in turn, up to a little past the
// limit.
double formDraws(fz_context* ctx, Walk& walk, pdf_obj* stream, pdf_obj* resources, int depth);

double formCost(fz_context* ctx, Walk& walk, pdf_obj* form, pdf_obj* resources, int depth)
{
    const int number = pdf_to_num(ctx, form);
    const bool memo = number > 0 && size_t(number) < walk.draws.size();
    if (memo && walk.draws[size_t(number)] == -2)
        return 0; // a cycle, which MuPDF breaks
    if (memo && walk.draws[size_t(number)] >= 0)
        return walk.draws[size_t(number)];
    if (memo)
        walk.draws[size_t(number)] = -2;
    pdf_obj* own = pdf_dict_get(ctx, form, PDF_NAME(Resources));
    const double cost = formDraws(ctx, walk, form, own ? own : resources, depth + 1);
    if (memo)
        walk.draws[size_t(number)] = cost;
    return cost;
}

double formDraws(fz_context* ctx, Walk& walk, pdf_obj* stream, pdf_obj* resources, int depth)
{
    if (depth > deepest)
        return 0;
    pdf_obj* xobjects = pdf_dict_get(ctx, resources, PDF_NAME(XObject));
    fz_stream* in = nullptr;
    pdf_lexbuf buffer;
    double total = 0;
    char name[256] = "";
    pdf_lexbuf_init(ctx, &buffer, PDF_LEXBUF_SMALL);
    fz_var(in);
    fz_var(total);
    fz_try(ctx)
    {
        in = pdf_open_stream(ctx, stream);
        for (;;) {
            const pdf_token token = pdf_lex(ctx, in, &buffer);
            if (token == PDF_TOK_EOF)
                break;
            if (token == PDF_TOK_NAME) {
                std::strncpy(name, buffer.scratch, sizeof name - 1);
                continue;
            }
            if (token == PDF_TOK_KEYWORD && name[0] && std::strcmp(buffer.scratch, "Do") == 0) {
                pdf_obj* xobject = pdf_dict_gets(ctx, xobjects, name);
                if (isForm(ctx, xobject))
                    total += 1 + formCost(ctx, walk, xobject, resources, depth);
                if (total > Type3Glyphs::formLimit)
                    break;
            }
            name[0] = 0;
        }
    }
    fz_always(ctx)
    {
        fz_drop_stream(ctx, in);
        pdf_lexbuf_fin(ctx, &buffer);
    }
    fz_catch(ctx)
    {
        // What does not read draws nothing more.
    }
    return total;
}

// The Type3 fonts reachable from these resources, each with the resources its glyphs use.
void collectFonts(fz_context* ctx, Walk& walk, pdf_obj* resources, int depth)
{
    if (depth > deepest || !pdf_is_dict(ctx, resources) || !firstLook(ctx, walk, resources))
        return;
    pdf_obj* fonts = pdf_dict_get(ctx, resources, PDF_NAME(Font));
    for (int i = 0, n = pdf_dict_len(ctx, fonts); i < n; ++i) {
        pdf_obj* font = pdf_dict_get_val(ctx, fonts, i);
        if (!pdf_name_eq(ctx, pdf_dict_get(ctx, font, PDF_NAME(Subtype)), PDF_NAME(Type3)) || !firstLook(ctx, walk, font))
            continue;
        pdf_obj* own = pdf_dict_get(ctx, font, PDF_NAME(Resources));
        walk.fonts.push_back(font);
        walk.fontResources.push_back(own ? own : resources);
        collectFonts(ctx, walk, own, depth + 1);
    }
    for (pdf_obj* key : {PDF_NAME(XObject), PDF_NAME(Pattern)}) {
        pdf_obj* held = pdf_dict_get(ctx, resources, key);
        for (int i = 0, n = pdf_dict_len(ctx, held); i < n; ++i)
            collectFonts(ctx, walk, pdf_dict_get(ctx, pdf_dict_get_val(ctx, held, i), PDF_NAME(Resources)), depth + 1);
    }
}

bool anyEndless(fz_context* ctx, Walk& walk, pdf_obj* page)
{
    collectFonts(ctx, walk, pdf_dict_get_inheritable(ctx, page, PDF_NAME(Resources)), 0);
    pdf_obj* annotations = pdf_dict_get(ctx, page, PDF_NAME(Annots));
    for (int i = 0, n = pdf_array_len(ctx, annotations); i < n && i < 10000; ++i) {
        pdf_obj* normal = pdf_dict_get(ctx, pdf_dict_get(ctx, pdf_array_get(ctx, annotations, i), PDF_NAME(AP)), PDF_NAME(N));
        if (pdf_is_stream(ctx, normal)) {
            collectFonts(ctx, walk, pdf_dict_get(ctx, normal, PDF_NAME(Resources)), 1);
        } else {
            for (int s = 0, states = pdf_dict_len(ctx, normal); s < states; ++s)
                collectFonts(ctx, walk, pdf_dict_get(ctx, pdf_dict_get_val(ctx, normal, s), PDF_NAME(Resources)), 1);
        }
    }
    for (size_t f = 0; f < walk.fonts.size(); ++f) {
        pdf_obj* procs = pdf_dict_get(ctx, walk.fonts[f], PDF_NAME(CharProcs));
        for (int i = 0, n = pdf_dict_len(ctx, procs); i < n; ++i) {
            pdf_obj* glyph = pdf_dict_get_val(ctx, procs, i);
            if (pdf_is_stream(ctx, glyph) && formDraws(ctx, walk, glyph, walk.fontResources[f], 0) > Type3Glyphs::formLimit)
                return true;
        }
    }
    return false;
}

} // namespace

bool Type3Glyphs::endless(fz_context* ctx, pdf_document* doc, pdf_obj* page)
{
    Walk walk;
    const size_t objects = size_t(std::max(pdf_xref_len(ctx, doc), 0)) + 1;
    walk.draws.assign(objects, -1);
    walk.seen.assign(objects, 0);
    bool found = false;
    fz_var(found);
    // Caught here, in the frame that holds the walk.
    fz_try(ctx)
    {
        found = anyEndless(ctx, walk, page);
    }
    fz_catch(ctx)
    {
        // What does not read is for the drawing to judge.
    }
    return found;
}

} // namespace qv
