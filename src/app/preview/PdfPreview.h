#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QList>
#include <QSizeF>
#include <QString>

#include <optional>
#include <stop_token>

namespace qv {

// A PDF shown page after page, fitted to the width. Only the pages in sight and next to it are
// drawn, each in a worker while isolation is on, so the file is never parsed here; closing the
// view kills the workers still drawing. A file that does not open gives an empty view.
class PdfPreview : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit PdfPreview(const QString& path, QWidget* parent = nullptr);
    ~PdfPreview() override;

    // The first page in points; absent when the document or the page cannot be read.
    std::optional<QSizeF> firstPageSize() const { return m_firstPage; }
    int pageCount() const { return int(m_pages.size()); }
    // Whether the page (from 0) is drawn, for as wide as it is shown.
    bool isDrawn(int index) const;
    // The page's place in the scrolled content, in device-independent pixels.
    QRect pageRect(int index) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void showEvent(QShowEvent* event) override;

private:
    struct Page {
        QSizeF size; // points; a guess until the sizes arrive
        QImage picture;
        int drawnWidth = 0; // device pixels the picture was asked for
        bool asked = false;
    };
    void layOut();
    void setSizes(const QList<QSizeF>& sizes);
    int wantedWidth() const;
    void askForPages();
    void pageArrived(int index, int width, const QImage& picture);

    QString m_path;
    std::optional<QSizeF> m_firstPage;
    QList<Page> m_pages;
    QList<int> m_tops; // each page's top in the content
    int m_contentHeight = 0;
    int m_asking = 0;
    std::stop_source m_stop;
};

} // namespace qv
