#pragma once

#include <QPdfView>
#include <QSizeF>

#include <optional>

class QPdfDocument;

namespace qv {

// A PDF shown page after page, fitted to the width. A file that does not open gives an
// empty view.
class PdfPreview : public QPdfView {
    Q_OBJECT
public:
    explicit PdfPreview(const QString& path, QWidget* parent = nullptr);
    ~PdfPreview() override;

    // The first page in points; absent when the document or the page cannot be read.
    std::optional<QSizeF> firstPageSize() const { return m_firstPage; }

private:
    QPdfDocument* m_document = nullptr;
    std::optional<QSizeF> m_firstPage;
};

} // namespace qv
