#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;

namespace qv {

class EditorButtons;
class PageGrid;
class PagesModel;

// The PDF pages editor: a header (order buttons, or the range field and pick buttons), the page
// grid and Cancel / Save Copy or Extract.
class PagesEditorView : public QWidget {
    Q_OBJECT
public:
    PagesEditorView(PagesModel* model, std::function<void()> cancel, std::function<void()> apply,
                    QWidget* parent = nullptr);

    PageGrid* grid() const { return m_grid; }
    // The page indices whose cells are in sight.
    QList<int> visiblePages() const;
    // The grid's ideal height for n pages: rows of four, at most three rows.
    static int idealGridHeight(int pageCount);

Q_SIGNALS:
    void visiblePagesChanged();

private:
    void refresh();

    PagesModel* m_model;
    PageGrid* m_grid;
    QScrollArea* m_scroll;
    QPushButton* m_restore = nullptr;
    QLineEdit* m_range = nullptr;
    QLabel* m_count = nullptr;
    EditorButtons* m_buttons;
};

} // namespace qv
