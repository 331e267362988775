#include "engines/pdf/PdfLock.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>

#include <QFile>

extern "C" {
#include <mupdf/fitz.h>
}

namespace qv {

namespace {

void quiet(void*, const char*) {}

// MuPDF opens only the Standard handler's usual crypt filter names (StdCF, Identity); a file
// that names its own is valid, and qpdf reads it.
bool qpdfAsksForPassword(const QByteArray& path)
{
    try {
        QPDF qpdf;
        qpdf.setSuppressWarnings(true);
        qpdf.processFile(path.constData(), nullptr);
    } catch (const QPDFExc& e) {
        return e.getErrorCode() == qpdf_e_password;
    } catch (const std::exception&) {
    }
    return false;
}

} // namespace

std::optional<bool> pdfNeedsPassword(const QString& path)
{
    fz_context* ctx = fz_new_context(nullptr, nullptr, FZ_STORE_DEFAULT);
    if (!ctx)
        return std::nullopt;
    fz_set_warning_callback(ctx, quiet, nullptr);
    fz_set_error_callback(ctx, quiet, nullptr);

    const QByteArray native = QFile::encodeName(path);
    fz_document* doc = nullptr;
    int state = -1; // -1: did not open, 0: open, 1: locked
    fz_var(doc);
    fz_var(state);
    fz_try(ctx)
    {
        fz_register_document_handlers(ctx);
        doc = fz_open_document(ctx, native.constData());
        state = fz_needs_password(ctx, doc) ? 1 : 0;
    }
    fz_always(ctx)
    {
        fz_drop_document(ctx, doc);
    }
    fz_catch(ctx)
    {
        state = -1;
    }
    fz_drop_context(ctx);

    if (state < 0)
        return qpdfAsksForPassword(native) ? std::optional<bool>(true) : std::nullopt;
    return state == 1;
}

} // namespace qv
