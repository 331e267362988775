#pragma once

#include <QWidget>

#include <functional>

class QPushButton;
class QScrollArea;

namespace qv {

class EditorButtons;
class RedactModel;
class RedactPageView;

// The redaction editor: a hint and Undo, the page view, a note on what happens, Cancel / Redact.
class RedactEditorView : public QWidget {
    Q_OBJECT
public:
    RedactEditorView(RedactModel* model, RedactPageView* pages, std::function<void()> cancel,
                     std::function<void()> apply, QWidget* parent = nullptr);

    // The pages in sight, from 0.
    QList<int> visiblePages() const;

Q_SIGNALS:
    void visiblePagesChanged();

private:
    void refresh();

    RedactModel* m_model;
    RedactPageView* m_pages;
    QScrollArea* m_scroll;
    QPushButton* m_undo;
    EditorButtons* m_buttons;
};

} // namespace qv
