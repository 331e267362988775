#include "engines/pdf/PDFRenderer.h"

#include "engines/pdf/PageWorkBudget.h"
#include "engines/pdf/PdfRepairs.h"
#include "engines/pdf/StaleFormAppearances.h"
#include "engines/pdf/Type3Glyphs.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <optional>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

extern "C" {
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>
}

namespace qv {

namespace {

void quiet(void*, const char*) {}

void lockOne(void* user, int lock)
{
    static_cast<std::mutex*>(user)[lock].lock();
}

void unlockOne(void* user, int lock)
{
    static_cast<std::mutex*>(user)[lock].unlock();
}

enum class Opened { ok, damaged, locked, refused };

EngineError damagedFile(const QString& details = {})
{
    return EngineError(QStringLiteral("This file is damaged or not in a supported format"), details);
}

EngineError openError(Opened state)
{
    switch (state) {
    case Opened::locked:
        return EngineError(QStringLiteral("PDF is password-protected"));
    case Opened::refused:
        return EngineError(QStringLiteral("That password didn't unlock the PDF"));
    default:
        return EngineError(QStringLiteral("This file is damaged or not in a supported format"));
    }
}

std::atomic<qint64> pageTimeLimitMs{60'000};
std::atomic<qint64> pageBudgetUnits{PageWorkBudget::defaultUnits};
// MuPDF counts every token it reads from a page's content streams in the cookie's progress:
// a map of millions of strokes reads a few million, and fifty million take it about two seconds.
std::atomic<qint64> pageOperatorLimit{50'000'000};

// Ends a page's reading once it has run for the page time limit or read more tokens than the
// operator limit, whatever it spends them on: operators that draw nothing (a content stream of
// a hundred million "q Q") cost no budget.
class PageTimeLimit {
public:
    explicit PageTimeLimit(fz_cookie& cookie)
        : m_thread([this, &cookie](std::stop_token ended) {
              std::mutex lock;
              std::condition_variable_any never;
              std::unique_lock locker(lock);
              const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(pageTimeLimitMs.load());
              const qint64 operators = pageOperatorLimit.load();
              while (!ended.stop_requested()) {
                  const auto now = std::chrono::steady_clock::now();
                  // The reading thread writes the count; a glance at it needs no more than a word's read.
                  const qint64 read = std::atomic_ref<int>(cookie.progress).load(std::memory_order_relaxed);
                  if (now >= until || read > operators) {
                      m_passed = true;
                      cookie.abort = 1;
                      return;
                  }
                  never.wait_for(locker, ended, std::min<std::chrono::steady_clock::duration>(until - now, std::chrono::milliseconds(50)),
                                 [] { return false; });
              }
          })
    {
    }
    bool passed() const { return m_passed; }

private:
    std::atomic<bool> m_passed{false};
    std::jthread m_thread; // last, so that it starts once the rest is made
};

EngineError tooComplex(const QString& what, int index, qint64 spent)
{
    return EngineError(QStringLiteral("This page is too complex to ") + what,
                       QStringLiteral("Page %1 was stopped after %2 units of work, far beyond any real page")
                           .arg(index + 1)
                           .arg(spent));
}

EngineError tooSlow(const QString& what, int index)
{
    return EngineError(QStringLiteral("This page is too complex to ") + what,
                       QStringLiteral("Page %1 ran past the %2 s or the %3 million operators a page may take")
                           .arg(index + 1)
                           .arg(pageTimeLimitMs.load() / 1000.0)
                           .arg(pageOperatorLimit.load() / 1'000'000.0));
}

EngineError endlessGlyphs(const QString& what, int index)
{
    return EngineError(QStringLiteral("This page is too complex to ") + what,
                       QStringLiteral("Page %1 uses a Type3 glyph that draws more than a million forms").arg(index + 1));
}

// The page's text with what its annotations and form fields show, as other readers give it:
// MuPDF's own fz_new_stext_page_from_page reads the page's contents only. Throws as MuPDF
// does; spent is what the page cost and exceeded whether it ran out of its budget.
fz_stext_page* pageText(fz_context* ctx, fz_page* page, qint64& spent, bool& exceeded, bool& late)
{
    fz_stext_page* text = fz_new_stext_page(ctx, fz_bound_page(ctx, page));
    fz_device* device = nullptr;
    fz_cookie cookie{};
    std::optional<PageTimeLimit> limit;
    std::optional<PageWorkBudget> budget;
    fz_var(device);
    fz_var(budget);
    fz_var(limit);
    fz_try(ctx)
    {
        device = fz_new_stext_device(ctx, text, nullptr);
        budget.emplace(ctx, device, fz_identity, fz_empty_irect, &cookie, pageBudgetUnits.load());
        limit.emplace(cookie);
        fz_run_page(ctx, page, budget->device(), fz_identity, &cookie);
        fz_close_device(ctx, device);
    }
    fz_always(ctx)
    {
        late = limit && limit->passed();
        limit.reset();
        spent = budget ? budget->spent() : 0;
        exceeded = budget && budget->exceeded();
        budget.reset();
        fz_drop_device(ctx, device);
    }
    fz_catch(ctx)
    {
        fz_drop_stext_page(ctx, text);
        fz_rethrow(ctx);
    }
    // Stopped short, the text is only part of the page's.
    if (late) {
        fz_drop_stext_page(ctx, text);
        fz_throw(ctx, FZ_ERROR_ABORT, "the page took too long");
    }
    return text;
}

} // namespace

struct PDFRenderer::Shared {
    // MuPDF's locks, so that cloned contexts may share the caches from several threads.
    std::array<std::mutex, FZ_LOCK_MAX> locks;
    fz_locks_context lockContext{};
    fz_context* base = nullptr;
    QByteArray path; // in the file system's encoding
    QByteArray data; // the document itself when it has no file
    std::optional<QByteArray> password;
    bool tolerant = false; // opened for viewing

    Shared()
    {
        lockContext.user = locks.data();
        lockContext.lock = lockOne;
        lockContext.unlock = unlockOne;
        base = fz_new_context(nullptr, &lockContext, FZ_STORE_DEFAULT);
        if (!base)
            return;
        fz_set_warning_callback(base, quiet, nullptr);
        fz_set_error_callback(base, quiet, nullptr);
        fz_try(base)
        {
            fz_register_document_handlers(base);
        }
        fz_catch(base)
        {
            fz_drop_context(base);
            base = nullptr;
        }
    }
    ~Shared()
    {
        if (base)
            fz_drop_context(base);
    }
};

struct PDFRenderer::Context {
    fz_context* ctx = nullptr;
    fz_document* doc = nullptr;
    // What MuPDF warned about while reading: a repaired cross-reference table, a stream that
    // does not decode, an unknown encryption method... each is damage.
    QStringList warnings;
    bool tolerant = false;
    std::atomic<bool> substituted = false;
    // Pages whose Type3 glyphs draw without end, by index, asked once a page.
    QHash<int, bool> endlessGlyphs;
    // Whether qpdf reads the file whole, asked once MuPDF has spoken only of repairs.
    std::function<bool()> readsWholeElsewhere;
    std::optional<bool> readsWhole;

    static void record(void* user, const char* message)
    {
        const QString text = QString::fromUtf8(message);
        // Said of this build, not of the file; and of an annotation that plays sound or video
        // (a presentation's media), which has no picture of its own to draw.
        if (text.startsWith(QLatin1String("ICC support is not available"))
            || text.startsWith(QLatin1String("cannot create appearance stream")))
            return;
        // A glyph whose text is longer than MuPDF keeps (a ligature spelled out): drawn all the
        // same, its text read from the font instead, as other readers are free to.
        if (text.startsWith(QLatin1String("ignoring one to many mapping in cmap")))
            return;
        // A link to a destination the document does not name leads nowhere, in every reader;
        // the pages, their text and pictures are whole.
        if (text.startsWith(QLatin1String("undefined link destination")))
            return;
        auto* context = static_cast<Context*>(user);
        // A font that does not load, a Type3 glyph or a JBIG2 region MuPDF does not draw: the
        // page is drawn with a stand-in, which is no damage to the file but worth a word.
        static const QRegularExpression drawing(QStringLiteral("font|glyph|type ?3|jbig2"),
                                                QRegularExpression::CaseInsensitiveOption);
        if (drawing.match(text).hasMatch()) {
            context->substituted = true;
            return;
        }
        if (context->warnings.size() < 20)
            context->warnings.append(text);
    }
    // MuPDF tells of every error it throws, most of which it catches and mends itself (a table
    // it rebuilds says so in a warning too); a page's drawing that does not parse it passes over
    // with only this, drawing what came before it.
    static void recordError(void* user, const char* message)
    {
        if (qstrcmp(message, "syntax error in content stream") == 0)
            record(user, message);
    }
    // Throws when MuPDF has warned about the file.
    void throwIfWarned()
    {
        fz_flush_warnings(ctx);
        if (tolerant)
            warnings.clear();
        // A repair MuPDF made (a rebuilt table, a stream's length) that qpdf confirms was
        // exact leaves a file that reads whole.
        if (!warnings.isEmpty() && readsWholeElsewhere
            && std::all_of(warnings.cbegin(), warnings.cend(), PdfRepairs::isMuPdfRepair)) {
            if (!readsWhole)
                readsWhole = readsWholeElsewhere();
            if (*readsWhole)
                warnings.clear();
        }
        if (!warnings.isEmpty())
            throw damagedFile(warnings.join(QLatin1Char('\n')));
        // A stand-in is for a font or picture MuPDF cannot draw, not for one the damage took.
        if (substituted && !tolerant && readsWholeElsewhere) {
            if (!readsWhole)
                readsWhole = readsWholeElsewhere();
            if (!*readsWhole)
                throw damagedFile(QStringLiteral("a font or picture that did not load, in a file qpdf finds damaged"));
        }
    }
    ~Context()
    {
        if (ctx) {
            fz_drop_document(ctx, doc);
            fz_drop_context(ctx);
        }
    }
};

namespace {

Opened openIn(fz_context* ctx, const QByteArray& path, const QByteArray& data,
              const std::optional<QByteArray>& password, fz_document** out)
{
    fz_document* doc = nullptr;
    fz_stream* stream = nullptr;
    Opened state = Opened::ok;
    fz_var(doc);
    fz_var(stream);
    fz_var(state);
    fz_try(ctx)
    {
        stream = data.isEmpty()
            ? fz_open_file(ctx, path.constData())
            : fz_open_memory(ctx, reinterpret_cast<const unsigned char*>(data.constData()),
                             size_t(data.size()));
        doc = fz_open_document_with_stream(ctx, "application/pdf", stream);
        if (fz_needs_password(ctx, doc)) {
            if (!password)
                state = Opened::locked;
            else if (!fz_authenticate_password(ctx, doc, password->constData()))
                state = Opened::refused;
        }
        if (state == Opened::ok)
            (void)fz_count_pages(ctx, doc);
    }
    fz_always(ctx)
    {
        fz_drop_stream(ctx, stream);
    }
    fz_catch(ctx)
    {
        state = Opened::damaged;
    }
    if (state != Opened::ok) {
        fz_drop_document(ctx, doc);
        return state;
    }
    *out = doc;
    return Opened::ok;
}

} // namespace

PDFRenderer::PDFRenderer(std::shared_ptr<Shared> shared)
    : m_shared(std::move(shared)), m_context(std::make_unique<Context>())
{
}

PDFRenderer::~PDFRenderer() = default;

void PDFRenderer::openDocument()
{
    if (!m_shared->base)
        throw EngineError(QStringLiteral("This file is damaged or not in a supported format"));
    m_context->tolerant = m_shared->tolerant;
    m_context->ctx = fz_clone_context(m_shared->base);
    if (!m_context->ctx)
        throw EngineError(QStringLiteral("This file is damaged or not in a supported format"));
    fz_set_warning_callback(m_context->ctx, Context::record, m_context.get());
    fz_set_error_callback(m_context->ctx, Context::recordError, m_context.get());
    m_context->readsWholeElsewhere = [shared = m_shared] {
        return PdfRepairs::qpdfReadsWhole(shared->path, shared->data, shared->password);
    };
    const Opened state = openIn(m_context->ctx, m_shared->path, m_shared->data,
                                m_shared->password, &m_context->doc);
    if (state != Opened::ok)
        throw openError(state);
    fz_context* ctx = m_context->ctx;
    fz_try(ctx)
    {
        if (pdf_document* pdf = pdf_specifics(ctx, m_context->doc))
            StaleFormAppearances::drop(ctx, pdf);
    }
    fz_catch(ctx)
    {
        // A form that cannot be walked keeps the pictures it has; its damage, if any, is
        // warned of and judged below.
    }
    m_context->throwIfWarned();
}

std::unique_ptr<PDFRenderer> PDFRenderer::open(const QString& path,
                                               const std::optional<QString>& password)
{
    auto shared = std::make_shared<Shared>();
    shared->path = QFile::encodeName(path);
    if (password)
        shared->password = password->toUtf8();
    std::unique_ptr<PDFRenderer> renderer(new PDFRenderer(shared));
    renderer->openDocument();
    return renderer;
}

std::unique_ptr<PDFRenderer> PDFRenderer::openForViewing(const QString& path,
                                                         const std::optional<QString>& password)
{
    auto shared = std::make_shared<Shared>();
    shared->path = QFile::encodeName(path);
    if (password)
        shared->password = password->toUtf8();
    shared->tolerant = true;
    std::unique_ptr<PDFRenderer> renderer(new PDFRenderer(shared));
    renderer->openDocument();
    return renderer;
}

std::unique_ptr<PDFRenderer> PDFRenderer::openData(const QByteArray& data)
{
    auto shared = std::make_shared<Shared>();
    shared->data = data;
    std::unique_ptr<PDFRenderer> renderer(new PDFRenderer(shared));
    renderer->openDocument();
    return renderer;
}

std::unique_ptr<PDFRenderer> PDFRenderer::clone() const
{
    std::unique_ptr<PDFRenderer> renderer(new PDFRenderer(m_shared));
    renderer->openDocument();
    return renderer;
}

int PDFRenderer::pageCount() const
{
    fz_context* ctx = m_context->ctx;
    int count = 0;
    fz_var(count);
    fz_try(ctx)
    {
        count = fz_count_pages(ctx, m_context->doc);
    }
    fz_catch(ctx)
    {
        count = 0;
    }
    return count;
}

int PDFRenderer::pageObjectNumber(int index) const
{
    fz_context* ctx = m_context->ctx;
    int number = -1;
    fz_var(number);
    fz_try(ctx)
    {
        pdf_document* pdf = pdf_specifics(ctx, m_context->doc);
        if (pdf)
            number = pdf_to_num(ctx, pdf_lookup_page_obj(ctx, pdf, index));
    }
    fz_catch(ctx)
    {
        number = -1;
    }
    return number;
}

QSizeF PDFRenderer::pageSize(int index) const
{
    fz_context* ctx = m_context->ctx;
    fz_page* page = nullptr;
    fz_rect bounds = fz_empty_rect;
    bool ok = true;
    fz_var(page);
    fz_var(ok);
    fz_try(ctx)
    {
        page = fz_load_page(ctx, m_context->doc, index);
        bounds = fz_bound_page(ctx, page);
    }
    fz_always(ctx)
    {
        fz_drop_page(ctx, page);
    }
    fz_catch(ctx)
    {
        ok = false;
    }
    if (!ok)
        throw EngineError(QStringLiteral("This page couldn't be rendered"));
    m_context->throwIfWarned();
    return QSizeF(std::max(0.0f, bounds.x1 - bounds.x0), std::max(0.0f, bounds.y1 - bounds.y0));
}

QSize PDFRenderer::pixelsAt(int index, double dpi) const
{
    const QSizeF size = pageSize(index);
    const double longer = std::max(std::max(size.width(), size.height()), 1.0);
    const double scale = std::min(dpi / 72.0, 16000.0 / longer);
    return QSize(std::max(1, int(std::lround(size.width() * scale))),
                 std::max(1, int(std::lround(size.height() * scale))));
}

QImage PDFRenderer::render(int index, double dpi, std::stop_token stop, QTransform* pageToPixel,
                           bool grey) const
{
    QImage image = renderToSize(index, pixelsAt(index, dpi), stop, pageToPixel, grey);
    if (image.isNull())
        throw EngineError(QStringLiteral("This page is too large to render"));
    return image;
}

QImage PDFRenderer::renderToSize(int index, QSize pixels, std::stop_token stop,
                                 QTransform* pageToPixel, bool grey) const
{
    throwIfCancelled(stop);
    if (glyphsEndless(index))
        throw endlessGlyphs(QStringLiteral("render"), index);
    // Memory is promised lazily, so a vast bitmap would "succeed" and then swap the machine
    // to a halt: no more pixels than a 16000-pixel square.
    if (pixels.isEmpty() || qint64(pixels.width()) * pixels.height() > maximumPixels)
        return QImage();
    QImage image(pixels, grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    if (image.isNull())
        return image;
    image.fill(Qt::white);

    fz_cookie cookie{};
    std::stop_callback abort(stop, [&cookie] { cookie.abort = 1; });
    std::optional<PageTimeLimit> limit;

    fz_context* ctx = m_context->ctx;
    fz_page* page = nullptr;
    fz_pixmap* pixmap = nullptr;
    fz_device* device = nullptr;
    std::optional<PageWorkBudget> budget;
    bool ok = true;
    fz_matrix full = fz_identity;
    fz_var(page);
    fz_var(pixmap);
    fz_var(device);
    fz_var(budget);
    fz_var(limit);
    fz_var(ok);
    fz_try(ctx)
    {
        page = fz_load_page(ctx, m_context->doc, index);
        const fz_rect b = fz_bound_page(ctx, page);
        const float w = std::max(b.x1 - b.x0, 0.01f);
        const float h = std::max(b.y1 - b.y0, 0.01f);
        const fz_matrix ctm = fz_concat(fz_translate(-b.x0, -b.y0),
                                        fz_scale(float(pixels.width()) / w, float(pixels.height()) / h));
        pixmap = fz_new_pixmap_with_data(ctx, grey ? fz_device_gray(ctx) : fz_device_rgb(ctx),
                                         pixels.width(), pixels.height(),
                                         nullptr, 0, int(image.bytesPerLine()), image.bits());
        device = fz_new_draw_device(ctx, ctm, pixmap);
        budget.emplace(ctx, device, ctm, fz_pixmap_bbox(ctx, pixmap), &cookie, pageBudgetUnits.load());
        limit.emplace(cookie);
        fz_run_page(ctx, page, budget->device(), fz_identity, &cookie);
        fz_close_device(ctx, device);
        if (pageToPixel) {
            pdf_page* pdfPage = pdf_page_from_fz_page(ctx, page);
            if (!pdfPage)
                fz_throw(ctx, FZ_ERROR_GENERIC, "not a PDF page");
            fz_rect box;
            fz_matrix pagectm;
            pdf_page_transform(ctx, pdfPage, &box, &pagectm);
            const fz_rect media = pdf_to_rect(
                ctx, pdf_dict_get_inheritable(ctx, pdfPage->obj, PDF_NAME(MediaBox)));
            full = fz_concat(fz_concat(fz_translate(media.x0, media.y0), pagectm), ctm);
        }
    }
    fz_always(ctx)
    {
        fz_drop_device(ctx, device);
        fz_drop_pixmap(ctx, pixmap);
        fz_drop_page(ctx, page);
    }
    fz_catch(ctx)
    {
        ok = false;
    }
    const bool late = limit && limit->passed();
    limit.reset();
    throwIfCancelled(stop);
    if (budget && budget->exceeded())
        throw tooComplex(QStringLiteral("render"), index, budget->spent());
    if (late)
        throw tooSlow(QStringLiteral("render"), index);
    if (!ok)
        throw EngineError(QStringLiteral("This page couldn't be rendered"));
    // A page drawn over warnings is a blank or partial picture of a damaged file.
    m_context->throwIfWarned();
    if (pageToPixel)
        *pageToPixel = QTransform(full.a, full.b, full.c, full.d, full.e, full.f);
    return image;
}

QString PDFRenderer::text(int index) const
{
    if (glyphsEndless(index))
        throw endlessGlyphs(QStringLiteral("read"), index);
    fz_context* ctx = m_context->ctx;
    fz_page* page = nullptr;
    fz_stext_page* textPage = nullptr;
    fz_buffer* buffer = nullptr;
    QByteArray bytes;
    QString failure;
    bool failed = false;
    qint64 spent = 0;
    bool exceeded = false;
    bool late = false;
    fz_var(page);
    fz_var(textPage);
    fz_var(buffer);
    fz_var(failed);
    fz_try(ctx)
    {
        page = fz_load_page(ctx, m_context->doc, index);
        textPage = pageText(ctx, page, spent, exceeded, late);
        buffer = fz_new_buffer_from_stext_page(ctx, textPage);
        unsigned char* data = nullptr;
        const size_t length = fz_buffer_storage(ctx, buffer, &data);
        bytes = QByteArray(reinterpret_cast<const char*>(data), qsizetype(length));
    }
    fz_always(ctx)
    {
        fz_drop_buffer(ctx, buffer);
        fz_drop_stext_page(ctx, textPage);
        fz_drop_page(ctx, page);
    }
    fz_catch(ctx)
    {
        failure = QString::fromUtf8(fz_caught_message(ctx));
        failed = true;
    }
    if (exceeded)
        throw tooComplex(QStringLiteral("read"), index, spent);
    if (late)
        throw tooSlow(QStringLiteral("read"), index);
    if (failed)
        throw damagedFile(failure);
    m_context->throwIfWarned();
    return QString::fromUtf8(bytes);
}

QList<QList<PDFRenderer::TextSpan>> PDFRenderer::textLines(int index, QSizeF* shown) const
{
    if (glyphsEndless(index))
        throw endlessGlyphs(QStringLiteral("read"), index);
    fz_context* ctx = m_context->ctx;
    fz_page* page = nullptr;
    fz_stext_page* textPage = nullptr;
    QList<QList<TextSpan>> lines;
    QSizeF size;
    QString failure;
    bool failed = false;
    qint64 spent = 0;
    bool exceeded = false;
    bool late = false;
    fz_var(page);
    fz_var(textPage);
    fz_var(failed);
    fz_try(ctx)
    {
        page = fz_load_page(ctx, m_context->doc, index);
        textPage = pageText(ctx, page, spent, exceeded, late);
        const fz_rect bounds = textPage->mediabox;
        size = QSizeF(std::max(0.0f, bounds.x1 - bounds.x0), std::max(0.0f, bounds.y1 - bounds.y0));
        for (fz_stext_block* block = textPage->first_block; block; block = block->next) {
            if (block->type != FZ_STEXT_BLOCK_TEXT)
                continue;
            for (fz_stext_line* line = block->u.t.first_line; line; line = line->next) {
                QList<TextSpan> spans;
                for (fz_stext_char* ch = line->first_char; ch; ch = ch->next) {
                    const bool bold = ch->font && fz_font_is_bold(ctx, ch->font);
                    const bool italic = ch->font && fz_font_is_italic(ctx, ch->font);
                    const bool mono = ch->font && fz_font_is_monospaced(ctx, ch->font);
                    const double size = std::round(double(ch->size) * 100) / 100;
                    if (spans.isEmpty() || spans.last().size != size || spans.last().bold != bold
                        || spans.last().italic != italic || spans.last().monospaced != mono)
                        spans.append(TextSpan{QString(), size, bold, italic, mono, {}});
                    spans.last().text += QString::fromUcs4(reinterpret_cast<const char32_t*>(&ch->c), 1);
                    const fz_rect r = fz_rect_from_quad(ch->quad);
                    const QRectF box(r.x0 - textPage->mediabox.x0, r.y0 - textPage->mediabox.y0, r.x1 - r.x0,
                                     r.y1 - r.y0);
                    spans.last().box = spans.last().box.isNull() ? box : spans.last().box.united(box);
                }
                lines.append(spans);
            }
        }
    }
    fz_always(ctx)
    {
        fz_drop_stext_page(ctx, textPage);
        fz_drop_page(ctx, page);
    }
    fz_catch(ctx)
    {
        failure = QString::fromUtf8(fz_caught_message(ctx));
        failed = true;
    }
    if (exceeded)
        throw tooComplex(QStringLiteral("read"), index, spent);
    if (late)
        throw tooSlow(QStringLiteral("read"), index);
    if (failed)
        throw damagedFile(failure);
    m_context->throwIfWarned();
    if (shown)
        *shown = size;
    return lines;
}

bool PDFRenderer::glyphsEndless(int index) const
{
    const auto known = m_context->endlessGlyphs.constFind(index);
    if (known != m_context->endlessGlyphs.cend())
        return *known;
    fz_context* ctx = m_context->ctx;
    bool endless = false;
    fz_var(endless);
    fz_try(ctx)
    {
        if (pdf_document* pdf = pdf_specifics(ctx, m_context->doc))
            endless = Type3Glyphs::endless(ctx, pdf, pdf_lookup_page_obj(ctx, pdf, index));
    }
    fz_catch(ctx)
    {
        endless = false;
    }
    m_context->endlessGlyphs.insert(index, endless);
    return endless;
}

bool PDFRenderer::withinBudget(int index) const
{
    if (glyphsEndless(index))
        return false;
    fz_context* ctx = m_context->ctx;
    fz_page* page = nullptr;
    fz_device* nothing = nullptr;
    fz_cookie cookie{};
    std::optional<PageWorkBudget> budget;
    std::optional<PageTimeLimit> limit;
    bool over = false;
    const qsizetype warned = m_context->warnings.size();
    fz_var(page);
    fz_var(nothing);
    fz_var(budget);
    fz_var(limit);
    fz_var(over);
    fz_try(ctx)
    {
        page = fz_load_page(ctx, m_context->doc, index);
        nothing = fz_new_device_of_size(ctx, sizeof(fz_device));
        budget.emplace(ctx, nothing, fz_identity, fz_empty_irect, &cookie, pageBudgetUnits.load());
        limit.emplace(cookie);
        fz_run_page(ctx, page, budget->device(), fz_identity, &cookie);
        fz_close_device(ctx, nothing);
    }
    fz_always(ctx)
    {
        over = (budget && budget->exceeded()) || (limit && limit->passed());
        limit.reset();
        budget.reset();
        fz_drop_device(ctx, nothing);
        fz_drop_page(ctx, page);
    }
    fz_catch(ctx)
    {
    }
    // What MuPDF cannot read is for whatever reads the page next to judge, not this count.
    fz_flush_warnings(ctx);
    m_context->warnings.resize(std::min(warned, m_context->warnings.size()));
    return !over;
}

void PDFRenderer::setPageTimeLimit(std::chrono::milliseconds limit)
{
    pageTimeLimitMs = limit.count();
}

void PDFRenderer::setPageOperatorLimit(qint64 operators)
{
    pageOperatorLimit = operators;
}

void PDFRenderer::setPageBudget(qint64 units)
{
    pageBudgetUnits = units;
}

bool PDFRenderer::drewStandIns() const
{
    return m_context->substituted;
}

QString PDFRenderer::standInsNote()
{
    return QStringLiteral("Some fonts or pictures of this PDF couldn't be drawn as they are: "
                          "stand-ins were drawn in their place");
}

QString PDFRenderer::title() const
{
    fz_context* ctx = m_context->ctx;
    char buffer[1024] = {};
    int length = -1;
    fz_var(length);
    fz_try(ctx)
    {
        length = fz_lookup_metadata(ctx, m_context->doc, FZ_META_INFO_TITLE, buffer, int(sizeof buffer));
    }
    fz_catch(ctx)
    {
        length = -1;
    }
    return length > 0 ? QString::fromUtf8(buffer).trimmed() : QString();
}

void PDFRenderer::runOnClones(int threads, const std::function<void(PDFRenderer&)>& work)
{
    std::vector<std::unique_ptr<PDFRenderer>> clones;
    for (int i = 1; i < threads; ++i)
        clones.push_back(clone());
    std::vector<std::jthread> running;
    for (auto& renderer : clones)
        running.emplace_back([&work, r = renderer.get()] { work(*r); });
    work(*this);
}

} // namespace qv
