#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

namespace qv {

// The pages of one PDF in on-screen order, their thumbnails and the extraction picks.
// Main thread only. Every operation only permutes the pages or changes thumbnails and picks.
class PagesModel : public QObject {
    Q_OBJECT
public:
    struct Page {
        int index = 0; // in the document, from 0; the page's identity
        QImage thumbnail;
        bool selected = false;
    };

    PagesModel(int pageCount, bool extract, QObject* parent = nullptr);

    bool isExtract() const { return m_extract; }
    const QList<Page>& pages() const { return m_pages; }
    int pageCount() const { return int(m_pages.size()); }
    std::optional<int> position(int index) const;

    std::optional<int> dragging() const { return m_dragging; }
    QString rangeText() const { return m_rangeText; }
    void setRangeText(const QString& text) { m_rangeText = text; }

    bool isReordered() const;
    int selectedCount() const;

    void setThumbnail(int index, const QImage& thumbnail);
    // Extract mode only.
    void toggleSelection(int index);
    void selectFromRangeText();
    void setAllSelected(bool selected);
    // Reorder mode only.
    void reverse();
    void restoreOrder();
    void beginDrag(int index);
    // The dragged page takes the place of the target page.
    void dragEntered(int target);
    // Any end of a drag, on a cell or not.
    void endDrag();

    // Extract: the picked indices ascending; reorder: every index in list order.
    QList<int> pageOrder() const;

Q_SIGNALS:
    void changed();

private:
    bool m_extract;
    QList<Page> m_pages;
    std::optional<int> m_dragging;
    QString m_rangeText;
};

} // namespace qv
