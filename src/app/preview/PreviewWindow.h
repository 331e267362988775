#pragma once

#include "app/preview/PreviewContent.h"

#include <QList>
#include <QUrl>
#include <QWidget>

class QLabel;
class QToolButton;

namespace qv {

// The preview window: one file at a time in the float panel's views, filling the window; with
// several files a bar below pages through them ("2 of 5"), as Left and Right do. Escape or Space
// closes. Titled with the shown file's name.
class PreviewWindow : public QWidget {
    Q_OBJECT
public:
    explicit PreviewWindow(QWidget* parent = nullptr);
    ~PreviewWindow() override;

    void setItems(const QList<QUrl>& urls);
    const QList<QUrl>& items() const { return m_items; }
    int currentIndex() const { return m_index; }
    void setCurrentIndex(int index);
    QWidget* contentView() const { return m_content.view; }
    // The position shown in the paging bar ("2 of 5"); empty with one file.
    QString positionText() const;
    QWidget* pagingBar() const { return m_bar; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void dropContent();
    void updateBar();

    QList<QUrl> m_items;
    int m_index = -1;
    PreviewContent m_content;
    QWidget* m_bar = nullptr;
    QLabel* m_position = nullptr;
    QToolButton* m_previous = nullptr;
    QToolButton* m_next = nullptr;
};

} // namespace qv
