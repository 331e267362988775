#pragma once

#include "app/PreviewContent.h"

#include <QList>
#include <QUrl>
#include <QWidget>

namespace qv {

// The preview window: one file at a time in the float panel's views; Left and Right page
// through the files, Escape or Space closes. Titled with the shown file's name.
class QuickLookWindow : public QWidget {
    Q_OBJECT
public:
    explicit QuickLookWindow(QWidget* parent = nullptr);
    ~QuickLookWindow() override;

    void setItems(const QList<QUrl>& urls);
    const QList<QUrl>& items() const { return m_items; }
    int currentIndex() const { return m_index; }
    void setCurrentIndex(int index);
    QWidget* contentView() const { return m_content.view; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void dropContent();

    QList<QUrl> m_items;
    int m_index = -1;
    PreviewContent m_content;
};

} // namespace qv
