#include "app/QuickLookWindow.h"

#include "app/MediaView.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>

namespace qv {

QuickLookWindow::QuickLookWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setFocusPolicy(Qt::StrongFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    resize(720, 540);
}

QuickLookWindow::~QuickLookWindow() = default;

void QuickLookWindow::setItems(const QList<QUrl>& urls)
{
    m_items = urls;
    m_index = -1;
    setCurrentIndex(0);
}

void QuickLookWindow::setCurrentIndex(int index)
{
    if (m_items.isEmpty()) {
        dropContent();
        m_index = -1;
        setWindowTitle({});
        return;
    }
    index = std::clamp(index, 0, int(m_items.size()) - 1);
    if (index == m_index && m_content.view)
        return;
    dropContent();
    m_index = index;
    const QUrl& url = m_items[index];
    m_content = makePreviewContent(url, devicePixelRatioF(), this);
    // Paging keys belong to the window, whatever view is shown.
    m_content.view->setFocusPolicy(Qt::NoFocus);
    for (QWidget* child : m_content.view->findChildren<QWidget*>())
        child->setFocusPolicy(Qt::NoFocus);
    layout()->addWidget(m_content.view);
    setWindowTitle(url.fileName());
}

void QuickLookWindow::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Space:
        close();
        return;
    case Qt::Key_Left:
        setCurrentIndex(m_index - 1);
        return;
    case Qt::Key_Right:
        setCurrentIndex(m_index + 1);
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void QuickLookWindow::closeEvent(QCloseEvent* event)
{
    // A playing sound stops with the window; the items stay until the next Quick Look.
    if (m_content.media)
        m_content.media->stop();
    dropContent();
    m_index = -1;
    event->accept();
}

void QuickLookWindow::dropContent()
{
    if (m_content.media)
        m_content.media->stop();
    delete m_content.view;
    m_content = {};
}

} // namespace qv
