#include "app/PdfPreview.h"

#include <QPdfDocument>

namespace qv {

PdfPreview::PdfPreview(const QString& path, QWidget* parent) : QPdfView(parent)
{
    // Not a child: the view must let go of the document before the document goes, or closing
    // it signals a view half destroyed.
    m_document = new QPdfDocument(nullptr);
    if (m_document->load(path) == QPdfDocument::Error::None && m_document->pageCount() > 0) {
        const QSizeF first = m_document->pagePointSize(0);
        if (first.width() > 0 && first.height() > 0)
            m_firstPage = first;
    }
    setDocument(m_document);
    setPageMode(QPdfView::PageMode::MultiPage);
    setZoomMode(QPdfView::ZoomMode::FitToWidth);
}

PdfPreview::~PdfPreview()
{
    setDocument(nullptr);
    delete m_document;
}

} // namespace qv
