#include "app/preview/PreviewAction.h"

#include "app/preview/PreviewWindow.h"

#include <QGuiApplication>
#include <QScreen>

namespace qv {

PreviewAction& PreviewAction::shared()
{
    static PreviewAction action;
    return action;
}

void PreviewAction::show(const QList<QUrl>& urls)
{
    m_items = urls;
    if (!m_window)
        m_window = new PreviewWindow;
    const bool wasVisible = m_window->isVisible();
    m_window->setItems(m_items);
    if (!wasVisible) {
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = m_window->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            m_window->move(frame.topLeft());
        }
        m_window->show();
    }
    m_window->raise();
    m_window->activateWindow();
}

} // namespace qv
