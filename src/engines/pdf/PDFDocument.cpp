#include "engines/pdf/PDFDocument.h"

#include "engines/pdf/PdfFileSink.h"
#include "engines/pdf/PdfRepairs.h"
#include "engines/pdf/PDFRenderer.h"
#include "engines/pdf/QpdfGuard.h"
#include "model/errors/EngineError.h"
#include "platform/processes/LastRelease.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <QByteArray>

namespace qv {

namespace {

// Rebuilds the page tree as one flat list with true counts, so that every reader numbers the
// pages as qpdf does; a lying /Count otherwise hides pages from some viewers. qpdf flattens
// the tree whenever a page is added or removed.
void flattenPageTree(QPDF& qpdf)
{
    QPDFPageDocumentHelper helper(qpdf);
    const std::vector<QPDFPageObjectHelper> pages = helper.getAllPages();
    if (pages.empty())
        return;
    QPDFPageObjectHelper last = pages.back();
    helper.removePage(last);
    helper.addPage(last, false);
}

} // namespace

PDFDocument::State::~State()
{
    LastRelease::hand(std::move(qpdf));
}

PDFDocument::PDFDocument(std::shared_ptr<QPDF> qpdf, QString path, std::optional<QString> password)
    : m_state(std::make_shared<State>())
{
    m_state->qpdf = std::move(qpdf);
    m_state->path = std::move(path);
    m_state->password = std::move(password);
}

int PDFDocument::pageCount() const
{
    return int(QPDFPageDocumentHelper(*m_state->qpdf).getAllPages().size());
}

PDFRenderer& PDFDocument::renderer() const
{
    if (!m_state->renderer) {
        if (!m_state->path.isEmpty()) {
            m_state->renderer = PDFRenderer::open(m_state->path, m_state->password);
            // A page tree whose counts lie makes MuPDF number the pages otherwise than qpdf
            // does; then MuPDF reads the document as qpdf writes it, pages in qpdf's order.
            if (!pagesAgree(*m_state->renderer))
                m_state->renderer.reset();
        }
        if (!m_state->renderer) {
            // Built in memory: MuPDF reads what the writer makes of it.
            const QByteArray data = guardedRead([&] {
                flattenPageTree(*m_state->qpdf);
                QPDFWriter writer(*m_state->qpdf);
                writer.setOutputMemory();
                writer.setPreserveEncryption(false);
                writer.write();
                std::unique_ptr<Buffer> buffer(writer.getBuffer());
                return QByteArray(reinterpret_cast<const char*>(buffer->getBuffer()),
                                  qsizetype(buffer->getSize()));
            });
            m_state->renderer = PDFRenderer::openData(data);
        }
    }
    return *m_state->renderer;
}

bool PDFDocument::pagesAgree(const PDFRenderer& renderer) const
{
    return guardedRead([&] {
        const std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(*m_state->qpdf).getAllPages();
        if (renderer.pageCount() != int(pages.size()))
            return false;
        for (size_t i = 0; i < pages.size(); ++i) {
            if (renderer.pageObjectNumber(int(i)) != pages[i].getObjectHandle().getObjectID())
                return false;
        }
        return true;
    });
}

void PDFDocument::readPageContents() const
{
    if (m_state->pagesRead)
        return;
    guardedRead([&] { PdfRepairs::parsePageContents(*m_state->qpdf); });
    // A stream's length qpdf found again, say, is no damage; what does not parse is.
    std::vector<QPDFExc> warnings;
    if (m_state->qpdf->anyWarnings()) {
        warnings = m_state->qpdf->getWarnings();
        for (const QPDFExc& warning : warnings)
            m_state->qpdf->warn(warning);
    }
    if (!PdfRepairs::qpdfRepairedExactly(*m_state->qpdf))
        throw EngineError(QStringLiteral("This file is damaged or not in a supported format"),
                          QString::fromStdString(warnings.front().what()));
}

void PDFDocument::write(const QString& path, const std::optional<QString>& protectWith,
                        PdfSyncBatch* syncLater) const
{
    writeFile(path, protectWith, syncLater, false);
}

void PDFDocument::writePacked(const QString& path) const
{
    writeFile(path, std::nullopt, nullptr, true);
}

void PDFDocument::writeFile(const QString& path, const std::optional<QString>& protectWith,
                            PdfSyncBatch* syncLater, bool packed) const
{
    const QByteArray password = protectWith ? protectWith->toUtf8() : QByteArray();
    guardedRead([&] {
        flattenPageTree(*m_state->qpdf);
        // qpdf writes the object count only in place of the trailer's own: a trailer whose
        // /Size was lost (the table rebuilt) would give a file without one.
        QPDFObjectHandle trailer = m_state->qpdf->getTrailer();
        if (!trailer.hasKey("/Size"))
            trailer.replaceKey("/Size", QPDFObjectHandle::newInteger(0));
    });
    readPageContents();
    PdfFileSink sink(path);
    try {
        QPDFWriter writer(*m_state->qpdf);
        writer.setOutputPipeline(&sink);
        if (protectWith)
            writer.setR6EncryptionParameters(password.constData(), password.constData(), true, true,
                                             true, true, true, true, qpdf_r3p_full, true);
        else
            writer.setPreserveEncryption(false);
        if (packed) {
            writer.setObjectStreamMode(qpdf_o_generate);
            writer.setCompressStreams(true);
        }
        writer.write();
        // Stream data is read while writing, and objects no page reaches: what did not decode
        // would be copied as it is. Only an exact repair passes, as when the file was read.
        if (m_state->qpdf->anyWarnings()) {
            const std::vector<QPDFExc> warnings = m_state->qpdf->getWarnings();
            const std::string first = warnings.front().what();
            for (const QPDFExc& warning : warnings)
                m_state->qpdf->warn(warning);
            if (!PdfRepairs::qpdfRepairedExactly(*m_state->qpdf))
                throw EngineError(QStringLiteral("This file is damaged or not in a supported format"),
                                  QString::fromStdString(first));
        }
        sink.commit(syncLater);
    } catch (const Error&) {
        throw;
    } catch (const std::exception& e) {
        throw EngineError(QStringLiteral("Couldn't write the PDF"), QString::fromUtf8(e.what()));
    }
}

} // namespace qv
