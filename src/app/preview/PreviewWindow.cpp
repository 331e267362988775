#include "app/preview/PreviewWindow.h"

#include "app/preview/MediaView.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QToolButton>

namespace qv {

PreviewWindow::PreviewWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setFocusPolicy(Qt::StrongFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_bar = new QWidget(this);
    m_bar->setObjectName(QStringLiteral("pagingBar"));
    auto* row = new QHBoxLayout(m_bar);
    row->setContentsMargins(8, 4, 8, 6);
    m_previous = new QToolButton(m_bar);
    m_previous->setArrowType(Qt::LeftArrow);
    m_previous->setToolTip(QStringLiteral("Previous file (Left)"));
    m_previous->setFocusPolicy(Qt::NoFocus);
    m_next = new QToolButton(m_bar);
    m_next->setArrowType(Qt::RightArrow);
    m_next->setToolTip(QStringLiteral("Next file (Right)"));
    m_next->setFocusPolicy(Qt::NoFocus);
    m_position = new QLabel(m_bar);
    m_position->setAlignment(Qt::AlignCenter);
    m_position->setMinimumWidth(72);
    row->addStretch(1);
    row->addWidget(m_previous);
    row->addWidget(m_position);
    row->addWidget(m_next);
    row->addStretch(1);
    connect(m_previous, &QToolButton::clicked, this, [this] { setCurrentIndex(m_index - 1); });
    connect(m_next, &QToolButton::clicked, this, [this] { setCurrentIndex(m_index + 1); });
    layout->addWidget(m_bar);
    m_bar->hide();
    resize(720, 540);
}

QString PreviewWindow::positionText() const
{
    if (m_items.size() < 2 || m_index < 0)
        return {};
    return QStringLiteral("%1 of %2").arg(m_index + 1).arg(m_items.size());
}

void PreviewWindow::updateBar()
{
    m_bar->setVisible(m_items.size() > 1);
    m_position->setText(positionText());
    m_previous->setEnabled(m_index > 0);
    m_next->setEnabled(m_index + 1 < m_items.size());
}

PreviewWindow::~PreviewWindow() = default;

void PreviewWindow::setItems(const QList<QUrl>& urls)
{
    m_items = urls;
    m_index = -1;
    setCurrentIndex(0);
}

void PreviewWindow::setCurrentIndex(int index)
{
    if (m_items.isEmpty()) {
        dropContent();
        m_index = -1;
        setWindowTitle(QStringLiteral("Quorvenda"));
        updateBar();
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
    // Above the paging bar, taking the room there is.
    static_cast<QVBoxLayout*>(layout())->insertWidget(0, m_content.view, 1);
    setWindowTitle(url.fileName());
    updateBar();
}

void PreviewWindow::keyPressEvent(QKeyEvent* event)
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

void PreviewWindow::closeEvent(QCloseEvent* event)
{
    // A playing sound stops with the window; the items stay until the next preview.
    if (m_content.media)
        m_content.media->stop();
    dropContent();
    m_index = -1;
    event->accept();
}

void PreviewWindow::dropContent()
{
    if (m_content.media)
        m_content.media->stop();
    delete m_content.view;
    m_content = {};
}

} // namespace qv
