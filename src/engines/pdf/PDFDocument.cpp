#include "engines/pdf/PDFDocument.h"

#include "engines/pdf/PDFRenderer.h"
#include "engines/pdf/PdfFileSink.h"
#include "engines/pdf/QpdfGuard.h"
#include "model/EngineError.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <QByteArray>

namespace qv {

PDFDocument::State::~State() = default;

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
        } else {
            // Built in memory: MuPDF reads what the writer makes of it.
            const QByteArray data = guardedRead([&] {
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

void PDFDocument::write(const QString& path) const
{
    PdfFileSink sink(path);
    try {
        QPDFWriter writer(*m_state->qpdf);
        writer.setOutputPipeline(&sink);
        writer.setPreserveEncryption(false);
        writer.write();
        sink.commit();
    } catch (const EngineError&) {
        throw;
    } catch (const std::exception& e) {
        throw EngineError(QStringLiteral("Couldn't write the PDF"), QString::fromUtf8(e.what()));
    }
}

} // namespace qv
