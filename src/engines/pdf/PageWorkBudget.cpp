#include "engines/pdf/PageWorkBudget.h"

#include <cmath>

namespace qv {

// Made by MuPDF's allocator, zeroed: plain data only.
struct PageWorkBudget::Device {
    fz_device super;
    fz_device* target;
    fz_matrix toPixels;
    fz_rect painted;
    bool draws;
    fz_cookie* cookie;
    qint64 budget;
    double spent;
    bool exceeded;
    // What clips, masks and groups leave drawable, innermost last: drawing is charged only
    // for what it can touch.
    std::vector<fz_rect>* scissors;
};

namespace {

using Device = PageWorkBudget::Device;

Device* self(fz_device* dev)
{
    return reinterpret_cast<Device*>(dev);
}

// Beyond this a cost is as good as endless; a double holds it without overflow.
constexpr double endless = 1e18;

void charge(fz_context* ctx, Device* dev, double units)
{
    dev->spent += std::isfinite(units) && units >= 0 ? std::min(units, endless) : endless;
    if (dev->spent <= double(dev->budget))
        return;
    dev->exceeded = true;
    // Stops every content stream still being read at its next operator.
    if (dev->cookie)
        dev->cookie->abort = 1;
    fz_throw(ctx, FZ_ERROR_ABORT, "the page costs more work than it may");
}

// What a call costs in itself, the reading of its operators included: about as much as
// painting 1024 pixels.
constexpr double call = 4;

// In the picture's pixels.
fz_rect drawable(Device* dev)
{
    return dev->scissors->empty() ? dev->painted : dev->scissors->back();
}

// bounds in the page's space, as the device's calls give them.
void pushScissor(Device* dev, fz_rect bounds)
{
    dev->scissors->push_back(fz_intersect_rect(fz_transform_rect(bounds, dev->toPixels), drawable(dev)));
}

void popScissor(Device* dev)
{
    if (!dev->scissors->empty())
        dev->scissors->pop_back();
}

// The pixels a call covers within what is drawable, in units; bounds in the picture's pixels.
double pixelArea(Device* dev, fz_rect bounds)
{
    if (!dev->draws)
        return 0;
    const fz_rect r = fz_intersect_rect(bounds, drawable(dev));
    const double width = double(r.x1) - r.x0;
    const double height = double(r.y1) - r.y0;
    // Disjoint rectangles intersect in one whose sides are both negative.
    if (!(width > 0 && height > 0))
        return 0;
    return std::min(width * height, endless) / 1024.0;
}

// The same for bounds in the page's space.
double area(Device* dev, fz_rect bounds)
{
    return dev->draws ? pixelArea(dev, fz_transform_rect(bounds, dev->toPixels)) : 0;
}

// Whether a path is one rectangle along the axes: the draw device clips to one without a
// mask, at no cost in pixels.
struct RectangleWalk {
    int points = 0;
    fz_point corner[5]{};
    bool other = false;
    bool rectangle = false;
};

void walkMove(fz_context*, void* arg, float x, float y)
{
    auto* walk = static_cast<RectangleWalk*>(arg);
    if (walk->points != 0 || walk->rectangle)
        walk->other = true;
    else
        walk->corner[walk->points++] = {x, y};
}

void walkLine(fz_context*, void* arg, float x, float y)
{
    auto* walk = static_cast<RectangleWalk*>(arg);
    if (walk->points < 1 || walk->points >= 5)
        walk->other = true;
    else
        walk->corner[walk->points++] = {x, y};
}

void walkCurve(fz_context*, void* arg, float, float, float, float, float, float)
{
    static_cast<RectangleWalk*>(arg)->other = true;
}

void walkClose(fz_context*, void*) {}

void walkRect(fz_context*, void* arg, float, float, float, float)
{
    auto* walk = static_cast<RectangleWalk*>(arg);
    if (walk->points != 0 || walk->rectangle)
        walk->other = true;
    walk->rectangle = true;
}

bool isRectangle(fz_context* ctx, const fz_path* path, fz_matrix ctm)
{
    const bool straight = (ctm.b == 0 && ctm.c == 0) || (ctm.a == 0 && ctm.d == 0);
    if (!straight)
        return false;
    static const fz_path_walker walker{walkMove, walkLine, walkCurve, walkClose,
                                       nullptr, nullptr, nullptr, walkRect};
    RectangleWalk walk;
    fz_walk_path(ctx, path, &walker, &walk);
    if (walk.other)
        return false;
    if (walk.rectangle)
        return true;
    if (walk.points == 5 && (walk.corner[4].x != walk.corner[0].x || walk.corner[4].y != walk.corner[0].y))
        return false;
    if (walk.points < 4)
        return false;
    const fz_point* p = walk.corner;
    return (p[0].x == p[1].x && p[1].y == p[2].y && p[2].x == p[3].x && p[3].y == p[0].y)
        || (p[0].y == p[1].y && p[1].x == p[2].x && p[2].y == p[3].y && p[3].x == p[0].x);
}

double glyphs(const fz_text* text)
{
    double count = 0;
    for (const fz_text_span* span = text ? text->head : nullptr; span; span = span->next)
        count += span->len;
    return count;
}

void fillPath(fz_context* ctx, fz_device* d, const fz_path* path, int evenOdd, fz_matrix ctm,
              fz_colorspace* cs, const float* color, float alpha, fz_color_params params)
{
    Device* dev = self(d);
    charge(ctx, dev, call + area(dev, fz_bound_path(ctx, path, nullptr, ctm)));
    fz_fill_path(ctx, dev->target, path, evenOdd, ctm, cs, color, alpha, params);
}

void strokePath(fz_context* ctx, fz_device* d, const fz_path* path, const fz_stroke_state* stroke,
                fz_matrix ctm, fz_colorspace* cs, const float* color, float alpha,
                fz_color_params params)
{
    Device* dev = self(d);
    charge(ctx, dev, call + area(dev, fz_bound_path(ctx, path, stroke, ctm)));
    fz_stroke_path(ctx, dev->target, path, stroke, ctm, cs, color, alpha, params);
}

// A clip that is not a rectangle is a mask as large as what it leaves drawable, copied in and
// blended back when it ends.
void clipPath(fz_context* ctx, fz_device* d, const fz_path* path, int evenOdd, fz_matrix ctm,
              fz_rect scissor)
{
    Device* dev = self(d);
    const fz_rect bounds = fz_intersect_rect(fz_bound_path(ctx, path, nullptr, ctm), scissor);
    charge(ctx, dev, call + (dev->draws && !isRectangle(ctx, path, ctm) ? 2 * area(dev, bounds) : 0));
    fz_clip_path(ctx, dev->target, path, evenOdd, ctm, scissor);
    pushScissor(dev, bounds);
}

void clipStrokePath(fz_context* ctx, fz_device* d, const fz_path* path, const fz_stroke_state* stroke,
                    fz_matrix ctm, fz_rect scissor)
{
    Device* dev = self(d);
    const fz_rect bounds = fz_intersect_rect(fz_bound_path(ctx, path, stroke, ctm), scissor);
    charge(ctx, dev, call + area(dev, bounds));
    fz_clip_stroke_path(ctx, dev->target, path, stroke, ctm, scissor);
    pushScissor(dev, bounds);
}

void fillText(fz_context* ctx, fz_device* d, const fz_text* text, fz_matrix ctm, fz_colorspace* cs,
              const float* color, float alpha, fz_color_params params)
{
    Device* dev = self(d);
    charge(ctx, dev, call + glyphs(text) + area(dev, fz_bound_text(ctx, text, nullptr, ctm)));
    fz_fill_text(ctx, dev->target, text, ctm, cs, color, alpha, params);
}

void strokeText(fz_context* ctx, fz_device* d, const fz_text* text, const fz_stroke_state* stroke,
                fz_matrix ctm, fz_colorspace* cs, const float* color, float alpha,
                fz_color_params params)
{
    Device* dev = self(d);
    charge(ctx, dev, call + glyphs(text) + area(dev, fz_bound_text(ctx, text, stroke, ctm)));
    fz_stroke_text(ctx, dev->target, text, stroke, ctm, cs, color, alpha, params);
}

void clipText(fz_context* ctx, fz_device* d, const fz_text* text, fz_matrix ctm, fz_rect scissor)
{
    Device* dev = self(d);
    const fz_rect bounds = fz_intersect_rect(fz_bound_text(ctx, text, nullptr, ctm), scissor);
    charge(ctx, dev, call + glyphs(text) + area(dev, bounds));
    fz_clip_text(ctx, dev->target, text, ctm, scissor);
    pushScissor(dev, bounds);
}

void clipStrokeText(fz_context* ctx, fz_device* d, const fz_text* text, const fz_stroke_state* stroke,
                    fz_matrix ctm, fz_rect scissor)
{
    Device* dev = self(d);
    const fz_rect bounds = fz_intersect_rect(fz_bound_text(ctx, text, stroke, ctm), scissor);
    charge(ctx, dev, call + glyphs(text) + area(dev, bounds));
    fz_clip_stroke_text(ctx, dev->target, text, stroke, ctm, scissor);
    pushScissor(dev, bounds);
}

void ignoreText(fz_context* ctx, fz_device* d, const fz_text* text, fz_matrix ctm)
{
    Device* dev = self(d);
    charge(ctx, dev, call + glyphs(text));
    fz_ignore_text(ctx, dev->target, text, ctm);
}

void fillShade(fz_context* ctx, fz_device* d, fz_shade* shade, fz_matrix ctm, float alpha,
               fz_color_params params)
{
    Device* dev = self(d);
    // Each pixel's colour is worked out: a few times the cost of a plain fill.
    charge(ctx, dev, call + 4 * area(dev, fz_bound_shade(ctx, shade, ctm)));
    fz_fill_shade(ctx, dev->target, shade, ctm, alpha, params);
}

void fillImage(fz_context* ctx, fz_device* d, fz_image* image, fz_matrix ctm, float alpha,
               fz_color_params params)
{
    Device* dev = self(d);
    charge(ctx, dev, call + area(dev, fz_transform_rect(fz_unit_rect, ctm)));
    fz_fill_image(ctx, dev->target, image, ctm, alpha, params);
}

void fillImageMask(fz_context* ctx, fz_device* d, fz_image* image, fz_matrix ctm, fz_colorspace* cs,
                   const float* color, float alpha, fz_color_params params)
{
    Device* dev = self(d);
    charge(ctx, dev, call + area(dev, fz_transform_rect(fz_unit_rect, ctm)));
    fz_fill_image_mask(ctx, dev->target, image, ctm, cs, color, alpha, params);
}

void clipImageMask(fz_context* ctx, fz_device* d, fz_image* image, fz_matrix ctm, fz_rect scissor)
{
    Device* dev = self(d);
    const fz_rect bounds = fz_intersect_rect(fz_transform_rect(fz_unit_rect, ctm), scissor);
    charge(ctx, dev, call + area(dev, bounds));
    fz_clip_image_mask(ctx, dev->target, image, ctm, scissor);
    pushScissor(dev, bounds);
}

void popClip(fz_context* ctx, fz_device* d)
{
    Device* dev = self(d);
    charge(ctx, dev, call);
    fz_pop_clip(ctx, dev->target);
    popScissor(dev);
}

// A mask is drawn, then clips until its pop_clip.
void beginMask(fz_context* ctx, fz_device* d, fz_rect rect, int luminosity, fz_colorspace* cs,
               const float* backdrop, fz_color_params params)
{
    Device* dev = self(d);
    charge(ctx, dev, call + area(dev, rect));
    fz_begin_mask(ctx, dev->target, rect, luminosity, cs, backdrop, params);
    pushScissor(dev, rect);
}

void endMask(fz_context* ctx, fz_device* d)
{
    Device* dev = self(d);
    charge(ctx, dev, call);
    fz_end_mask(ctx, dev->target);
}

void beginGroup(fz_context* ctx, fz_device* d, fz_rect rect, fz_colorspace* cs, int isolated,
                int knockout, int blendMode, float alpha)
{
    Device* dev = self(d);
    charge(ctx, dev, call + area(dev, rect));
    fz_begin_group(ctx, dev->target, rect, cs, isolated, knockout, blendMode, alpha);
    pushScissor(dev, rect);
}

void endGroup(fz_context* ctx, fz_device* d)
{
    Device* dev = self(d);
    charge(ctx, dev, call);
    fz_end_group(ctx, dev->target);
    popScissor(dev);
}

// A tile is drawn once and painted at every step across the area: each step is a call's worth
// of work however small the tile, and a pattern stepped a millionth of a point apart would
// never end.
int beginTile(fz_context* ctx, fz_device* d, fz_rect rect, fz_rect view, float xstep, float ystep,
              fz_matrix ctm, int id)
{
    Device* dev = self(d);
    double repeats = 0;
    double covered = 0;
    const fz_matrix patternToPixels = fz_concat(ctm, dev->toPixels);
    if (dev->target->begin_tile && dev->draws) {
        const fz_rect shown = fz_intersect_rect(fz_transform_rect(rect, patternToPixels), drawable(dev));
        covered = pixelArea(dev, shown);
        if (covered > 0) {
            const fz_rect cell = fz_transform_rect(shown, fz_invert_matrix(patternToPixels));
            const double across = std::abs(double(xstep));
            const double down = std::abs(double(ystep));
            repeats = across > 0 && down > 0
                ? ((double(cell.x1) - cell.x0) / across + 2) * ((double(cell.y1) - cell.y0) / down + 2)
                : endless;
        }
    }
    charge(ctx, dev, call * (1 + repeats) + covered);
    const int cached = fz_begin_tile_id(ctx, dev->target, rect, view, xstep, ystep, ctm, id);
    // The cell is drawn in a picture of its own, one cell large wherever that lies.
    dev->scissors->push_back(fz_transform_rect(view, patternToPixels));
    return cached;
}

void endTile(fz_context* ctx, fz_device* d)
{
    Device* dev = self(d);
    charge(ctx, dev, call);
    fz_end_tile(ctx, dev->target);
    popScissor(dev);
}

void renderFlags(fz_context* ctx, fz_device* d, int set, int clear)
{
    fz_render_flags(ctx, self(d)->target, set, clear);
}

void setDefaultColorspaces(fz_context* ctx, fz_device* d, fz_default_colorspaces* spaces)
{
    fz_set_default_colorspaces(ctx, self(d)->target, spaces);
}

void beginLayer(fz_context* ctx, fz_device* d, const char* name)
{
    Device* dev = self(d);
    charge(ctx, dev, call);
    fz_begin_layer(ctx, dev->target, name);
}

void endLayer(fz_context* ctx, fz_device* d)
{
    Device* dev = self(d);
    charge(ctx, dev, call);
    fz_end_layer(ctx, dev->target);
}

} // namespace

PageWorkBudget::PageWorkBudget(fz_context* ctx, fz_device* target, fz_matrix toPixels,
                               fz_irect painted, fz_cookie* cookie, qint64 units)
    : m_ctx(ctx), m_device(fz_new_derived_device(ctx, Device))
{
    m_device->target = target;
    m_device->toPixels = toPixels;
    m_device->draws = !fz_is_empty_irect(painted);
    m_device->painted = fz_rect_from_irect(painted);
    m_device->cookie = cookie;
    m_device->scissors = &m_scissors;
    // However large the picture, it may be painted over as many times.
    m_device->budget = units + qint64(coverings * pixelArea(m_device, m_device->painted));
    m_device->spent = 0;
    m_device->exceeded = false;
    // The interpreter reads what the target wants (images decoded or not, caching) from these.
    m_device->super.hints = target->hints;
    m_device->super.flags = target->flags;

    fz_device& d = m_device->super;
    d.fill_path = fillPath;
    d.stroke_path = strokePath;
    d.clip_path = clipPath;
    d.clip_stroke_path = clipStrokePath;
    d.fill_text = fillText;
    d.stroke_text = strokeText;
    d.clip_text = clipText;
    d.clip_stroke_text = clipStrokeText;
    d.ignore_text = ignoreText;
    d.fill_shade = fillShade;
    d.fill_image = fillImage;
    d.fill_image_mask = fillImageMask;
    d.clip_image_mask = clipImageMask;
    d.pop_clip = popClip;
    d.begin_mask = beginMask;
    d.end_mask = endMask;
    d.begin_group = beginGroup;
    d.end_group = endGroup;
    d.begin_tile = beginTile;
    d.end_tile = endTile;
    d.render_flags = renderFlags;
    d.set_default_colorspaces = setDefaultColorspaces;
    d.begin_layer = beginLayer;
    d.end_layer = endLayer;
}

PageWorkBudget::~PageWorkBudget()
{
    fz_drop_device(m_ctx, &m_device->super);
}

fz_device* PageWorkBudget::device() const
{
    return &m_device->super;
}

bool PageWorkBudget::exceeded() const
{
    return m_device->exceeded;
}

qint64 PageWorkBudget::spent() const
{
    return qint64(std::min(m_device->spent, endless));
}

} // namespace qv
